#pragma once
// `kv58 serve`'s command line: its own options, and those it shares with kv58's other
// commands (--ports-file, --jobs, --retries, --baud, --tls-...), read by kv58's own parser.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kv58/command_line.h"

namespace kv58::serve {

inline constexpr const char* kDefaultListen = "127.0.0.1:8058";
inline constexpr int kDefaultRetries = 3;

struct ServeOptions {
  cli::Request shared; // the ports file, jobs, retries, line speed, TLS defaults
  std::optional<std::string> schedule;
  std::string listenHost = "127.0.0.1";
  int listenPort = 8058;
  std::optional<std::string> tokenFile;
  bool installService = false;
  bool uninstallService = false;
  bool asService = false;        // started by the Windows service manager
  std::vector<std::string> args; // as given, for the service's command line
};

struct ServeCommandLine {
  std::optional<ServeOptions> options;
  bool showHelp = false;
  std::string error;
};

// The arguments after "serve".
[[nodiscard]] ServeCommandLine ParseServeCommandLine(std::span<const std::string_view> args);

// "HOST:PORT", "[::1]:PORT": the address the API listens on; none when malformed.
[[nodiscard]] std::optional<std::pair<std::string, int>> ListenAddress(std::string_view text);

[[nodiscard]] std::string ServeUsageText();

} // namespace kv58::serve
