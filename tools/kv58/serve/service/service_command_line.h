#pragma once
// The service options of `kv58 serve` (--install-service, --uninstall-service, --service) and
// the command line the service manager is given: the other options, with the files they name
// made absolute (a service starts in the system's folder), quoted as Windows programs read
// their command line.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv58::serve {

struct ServiceRequest {
  enum class Mode { None, Install, Uninstall, Run };
  Mode mode = Mode::None;
  std::vector<std::string> serveArgs; // the arguments without the service option
  std::string error;                  // a request that cannot be met, in words
};

// What the arguments after "serve" ask of the service manager.
[[nodiscard]] ServiceRequest ServiceRequestOf(std::span<const std::string_view> serveArgs);

// `serveArgs` with the values of the options that name files (--ports-file, --schedule,
// --token-file, as "--option VALUE" or "--option=VALUE") made absolute against `folder`.
[[nodiscard]] std::vector<std::string> WithAbsolutePaths(std::span<const std::string> serveArgs,
                                                         const std::filesystem::path& folder);

// `argument` as one argument of a Windows command line (the rules CommandLineToArgvW reads).
[[nodiscard]] std::string QuoteArgument(std::string_view argument);

// `serve --service` and the arguments, each quoted: what follows the program's path.
[[nodiscard]] std::string ServiceArguments(std::span<const std::string> serveArgs);

} // namespace kv58::serve
