#include "tools/kv58/serve/service/windows_service.h"

#include <vector>

#include "tools/kv58/serve/service/service_command_line.h"

namespace kv58::serve {

std::optional<int> RunServiceCommand(std::span<const std::string_view> serveArgs, std::ostream& out,
                                     std::ostream& err, const ServeWithArguments& serve,
                                     const ServiceSetup& setup) {
  const ServiceRequest request = ServiceRequestOf(serveArgs);
  if (request.mode == ServiceRequest::Mode::None) {
    return std::nullopt;
  }
  if (!request.error.empty()) {
    err << "kv58 serve: " << request.error << "\n";
    return 2;
  }
  switch (request.mode) {
  case ServiceRequest::Mode::Install:
    return InstallService(request.serveArgs, out, err, setup);
  case ServiceRequest::Mode::Uninstall:
    return UninstallService(out, err, setup);
  case ServiceRequest::Mode::Run:
  case ServiceRequest::Mode::None:
    break;
  }
  const std::vector<std::string_view> args(request.serveArgs.begin(), request.serveArgs.end());
  return RunAsService([&](ServeControl& control, std::ostream& log) { return serve(args, control, log); },
                      err, setup);
}

} // namespace kv58::serve
