// A stand-in for kv58 under the service manager, for the tests: `serve --service ...` serves
// with a function that logs the arguments it was given, waits for the stop and ends with the
// status of --exit-status. --probe-name and --log-folder say which service it is (kv58-serve,
// logging to %ProgramData%\kv58, without them: the installer's test runs it as kv58.exe).

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kv58/serve/service/windows_service.h"

namespace {

std::string ValueAfter(std::span<const std::string_view> args, std::string_view option) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) {
      return std::string(args[i + 1]);
    }
  }
  return {};
}

} // namespace

int main(int argc, char** argv) {
  using namespace kv58::serve;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty() || args.front() != "serve") {
    std::cerr << "usage: kv58_service_probe serve --service ...\n";
    return 2;
  }
  const std::span<const std::string_view> serveArgs(args.begin() + 1, args.end());
  ServiceSetup setup;
  if (const std::string name = ValueAfter(serveArgs, "--probe-name"); !name.empty()) {
    setup.name = name;
  }
  if (const std::string folder = ValueAfter(serveArgs, "--log-folder"); !folder.empty()) {
    setup.logFolder = folder;
  }
  const auto status = RunServiceCommand(
      serveArgs, std::cout, std::cerr,
      [](std::span<const std::string_view> given, ServeControl& control, std::ostream& log) {
        log << "probe serving:";
        for (const std::string_view argument : given) {
          log << " [" << argument << "]";
        }
        log << "\n";
        std::cerr << "probe: standard error reaches the log\n";
        while (control.Wait() != ServeControl::Event::Stop) {
        }
        log << "probe stopping\n";
        const std::string exitStatus = ValueAfter(given, "--exit-status");
        return exitStatus.empty() ? 0 : std::stoi(exitStatus);
      },
      setup);
  return status.value_or(2);
}
