#pragma once
// What the API token asks of the system, one file per platform (token_file_posix.cpp,
// token_file_win32.cpp): random bytes, kv58's folder, and files only their owner can read.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "tools/kv58/serve/service/api_token.h"

namespace kv58::serve::detail {

// Fills `bytes` from the system's cryptographic random source.
[[nodiscard]] bool SystemRandomBytes(std::span<unsigned char> bytes, std::string& error);

// The platform's rule of ConfigurationFolder.
[[nodiscard]] std::optional<std::filesystem::path>
PlatformConfigurationFolder(const Environment& environment);

// Makes `folder` and its parents; a folder made here is its owner's alone.
[[nodiscard]] bool MakeOwnFolder(const std::filesystem::path& folder, std::string& error);

enum class Publish { Made, Exists, Failed };
// A new file `path` holding `contents`, readable and writable by its owner alone. It is
// written whole under a name of its own, made exclusively, and then given `path`, so no other
// process can have opened it and a reader never sees it half written. Exists when `path` is
// taken (another start made it first); nothing is replaced.
[[nodiscard]] Publish PublishOwnFile(const std::filesystem::path& path, const std::string& contents,
                                     std::string& error);

// At most `limit` bytes of the regular file `path` (more is an error). On POSIX a file that
// other users may read or write is refused, and one the owner's group may read is read with
// a warning.
[[nodiscard]] bool ReadOwnFile(const std::filesystem::path& path, std::size_t limit, std::string& contents,
                               std::string& error, std::string& warning);

} // namespace kv58::serve::detail
