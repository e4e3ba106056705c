#pragma once
// `kv58 serve` under the Windows service manager: registered as the service "kv58-serve"
// (--install-service), removed (--uninstall-service), and run by it (--service), with its
// output in serve.log in %ProgramData%\kv58. Elsewhere each says it is for Windows only.

#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "tools/kv58/serve/serve_control.h"

namespace kv58::serve {

inline constexpr const char* kServiceName = "kv58-serve";
inline constexpr const char* kServiceDisplayName = "KV-58 displays (kv58 serve)";

// Who the service is; tests install a program of their own under a name of their own.
struct ServiceSetup {
  std::string name = kServiceName;
  std::string displayName = kServiceDisplayName;
  std::optional<std::string> executable; // this program when absent
  std::optional<std::string> logFolder;  // %ProgramData%\kv58 when absent
};

// Serves until `control` is asked to stop; its output goes to `log`. Returns the exit status.
using ServeFunction = std::function<int(ServeControl& control, std::ostream& log)>;

// Each returns the exit status: 0 done, 1 refused by the system, 2 for what was asked.
[[nodiscard]] int InstallService(std::span<const std::string> serveArgs, std::ostream& out, std::ostream& err,
                                 const ServiceSetup& setup = {});
[[nodiscard]] int UninstallService(std::ostream& out, std::ostream& err, const ServiceSetup& setup = {});
[[nodiscard]] int RunAsService(const ServeFunction& serve, std::ostream& err, const ServiceSetup& setup = {});

// Serves `kv58 serve`'s arguments with `serve` (given the arguments left once the service
// option is taken out) when one of the service options is among them; nullopt otherwise.
using ServeWithArguments =
    std::function<int(std::span<const std::string_view> serveArgs, ServeControl& control, std::ostream& log)>;
[[nodiscard]] std::optional<int> RunServiceCommand(std::span<const std::string_view> serveArgs,
                                                   std::ostream& out, std::ostream& err,
                                                   const ServeWithArguments& serve,
                                                   const ServiceSetup& setup = {});

} // namespace kv58::serve
