// kv58: the KV-58 scrolling text display from the command line. Run with --help.

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/stop_request.h"
#include "serial/port_discovery.h"
#include "tools/kv58/console.h"
#include "tools/kv58/run.h"
#include "tools/kv58/serve/serve_run.h"
#include "tools/kv58/serve/serve_signals.h"
#include "tools/kv58/serve/service/windows_service.h"

namespace {

std::atomic<int> stopRequests{0};
std::atomic<bool> monitorOnly{false};

// The first SIGINT or SIGTERM asks kv58 to end what it is sending cleanly, and says so at
// once; the second to stop waiting at once (the text still gets its end when the line takes
// it, and the report is printed); a third ends kv58 as the signal would have without this.
// Watching the line only, the first ends it.
extern "C" void OnInterrupt(int signal) {
  switch (++stopRequests) {
  case 1:
    kv58::RequestStop(kv58::StopLevel::Finish, signal);
    if (monitorOnly) {
      kv58::cli::SayFromSignalHandler("\nkv58: stopping\n");
    } else if (signal == SIGINT) {
      kv58::cli::SayFromSignalHandler("\nkv58: stopping once what is being sent has ended (a text with its "
                                      "end); Ctrl+C again to stop at once\n");
    } else {
      kv58::cli::SayFromSignalHandler(
          "\nkv58: stopping once what is being sent has ended (a text with its end)\n");
    }
    break;
  case 2:
    kv58::RequestStop(kv58::StopLevel::AtOnce, signal);
    kv58::cli::SayFromSignalHandler("\nkv58: stopping at once\n");
    break;
  default:
    (void)std::signal(signal, SIG_DFL);
    (void)std::raise(signal);
    return;
  }
  (void)std::signal(signal, OnInterrupt); // where a handler serves only once
}

} // namespace

int main(int argc, char** argv) {
  using namespace kv58;
  cli::UseBinaryStandardInput();
  cli::SurviveClosedOutput();
  const std::unique_ptr<std::streambuf> inputBuffer = cli::StandardInputBuffer();
  std::istream in(inputBuffer.get());
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  cli::Console console{std::cout,
                       std::cerr,
                       in,
                       cli::StandardErrorIsTerminal(),
                       [](const char* name) -> std::optional<std::string> {
                         const char* value = std::getenv(name);
                         return value != nullptr && *value != '\0' ? std::optional<std::string>(value)
                                                                   : std::nullopt;
                       },
                       [](bool onlyWatching) {
                         monitorOnly = onlyWatching;
                         (void)std::signal(SIGINT, OnInterrupt);
                         (void)std::signal(SIGTERM, OnInterrupt);
                       }};
  cli::Machine machine{SystemSerialDriver(),           SystemPortSource,      SleepingPause(),
                       std::chrono::milliseconds(100), NewSystemSerialDriver, cli::RoomForDisplays()};
  if (!args.empty() && args.front() == "serve") {
    // The Windows service manager's side: install, remove, or run under it, with its own stop
    // requests and the output in its log file.
    const auto asService = serve::RunServiceCommand(
        std::span(args).subspan(1), std::cout, std::cerr,
        [&](std::span<const std::string_view> serveArgs, serve::ServeControl& control, std::ostream& log) {
          std::istringstream noInput;
          cli::Console service{log, log, noInput, false, console.environment, [](bool) {}};
          return serve::RunServe(serveArgs, service, machine, control);
        });
    if (asService) {
      return *asService;
    }
    static serve::ServeControl control;
    serve::ForwardSignals(control); // before any thread: they all leave the signals to it
    console.watchInterrupts = [](bool) {};
    return serve::RunServe(std::span(args).subspan(1), console, machine, control);
  }
  return cli::RunKv58(args, console, machine);
}
