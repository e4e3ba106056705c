#include "tools/kv58/serve/service/windows_service.h"

namespace kv58::serve {
namespace {

int WindowsOnly(std::ostream& err, const char* option) {
  err << "kv58 serve: " << option
      << " is for the Windows service manager; on Linux the package's systemd unit kv58-serve.service runs "
         "kv58 "
         "serve (systemctl enable --now kv58-serve)\n";
  return 2;
}

} // namespace

int InstallService(std::span<const std::string> /*serveArgs*/, std::ostream& /*out*/, std::ostream& err,
                   const ServiceSetup& /*setup*/) {
  return WindowsOnly(err, "--install-service");
}

int UninstallService(std::ostream& /*out*/, std::ostream& err, const ServiceSetup& /*setup*/) {
  return WindowsOnly(err, "--uninstall-service");
}

int RunAsService(const ServeFunction& /*serve*/, std::ostream& err, const ServiceSetup& /*setup*/) {
  return WindowsOnly(err, "--service");
}

} // namespace kv58::serve
