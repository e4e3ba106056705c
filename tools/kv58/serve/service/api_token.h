#pragma once
// The secret that `kv58 serve`'s API asks of every caller (Authorization: Bearer TOKEN): read
// from a file the user names, or made once from the system's random source and kept in
// kv58's own folder, in a file only its owner can read.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kv58::serve {

using Environment = std::function<std::optional<std::string>(const char*)>;

inline constexpr std::size_t kTokenRandomBytes = 32; // written as 64 hex digits
inline constexpr std::size_t kMinTokenLength = 16;
inline constexpr std::size_t kMaxTokenFileBytes = 4096;
inline constexpr const char* kTokenFileName = "serve-token";

struct TokenLoad {
  std::optional<std::string> token; // absent when `error` says why
  std::string path;                 // the file read or made, absolute
  bool created = false;             // made by this call
  std::string error;
  std::string warning; // read all the same (a file the owner's group may read)
};

// The token of `tokenFile` when given; otherwise that of `serve-token` in kv58's folder
// (ConfigurationFolder), made there first when missing. Never throws.
[[nodiscard]] TokenLoad LoadOrCreateToken(const std::optional<std::string>& tokenFile,
                                          const Environment& environment);

// kv58's folder for the files it makes itself:
//   POSIX:   $STATE_DIRECTORY (the folder systemd gives a service with StateDirectory=; its
//            first entry), else $XDG_CONFIG_HOME/kv58, else $HOME/.config/kv58;
//   Windows: %ProgramData%\kv58 (the known folder) for a process running as LocalSystem (a
//            service), else %APPDATA%\kv58.
// Relative values are passed over. Absent when none is set.
[[nodiscard]] std::optional<std::filesystem::path> ConfigurationFolder(const Environment& environment);

// The token in a token file's bytes: white space around it trimmed, at least
// kMinTokenLength characters, each printable ASCII other than a space. Sets `error` instead.
[[nodiscard]] std::optional<std::string> TokenOfText(std::string_view text, std::string& error);

} // namespace kv58::serve
