// kv58: the KV-58 scrolling text display from the command line. Run with --help.

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "serial/port_discovery.h"
#include "tools/kv58/console.h"
#include "tools/kv58/run.h"

namespace {

std::atomic<int> stopSignal{0};

// The first SIGINT or SIGTERM asks kv58 to end what it is sending cleanly; a second one ends
// it at once, as the signal would have without this handler.
extern "C" void OnInterrupt(int signal) {
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) {
    (void)std::signal(signal, SIG_DFL);
    (void)std::raise(signal);
  }
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
                       [] {
                         (void)std::signal(SIGINT, OnInterrupt);
                         (void)std::signal(SIGTERM, OnInterrupt);
                       },
                       [] { return stopSignal.load() != 0; },
                       [] { return stopSignal.load(); }};
  cli::Machine machine{SystemSerialDriver(), SystemPortSource, SleepingPause(),
                       std::chrono::milliseconds(100), NewSystemSerialDriver};
  return cli::RunKv58(args, console, machine);
}
