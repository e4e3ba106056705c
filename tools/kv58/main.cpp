// kv58: the KV-58 scrolling text display from the command line. Run with --help.

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

#include "serial/port_discovery.h"
#include "tools/kv58/console.h"
#include "tools/kv58/run.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int /*signal*/) { interrupted = true; }

} // namespace

int main(int argc, char** argv) {
  using namespace kv58;
  cli::UseBinaryStandardInput();
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  cli::Console console{std::cout,
                       std::cerr,
                       std::cin,
                       cli::StandardErrorIsTerminal(),
                       [](const char* name) -> std::optional<std::string> {
                         const char* value = std::getenv(name);
                         return value != nullptr && *value != '\0' ? std::optional<std::string>(value)
                                                                   : std::nullopt;
                       },
                       [] {
                         std::signal(SIGINT, OnInterrupt);
                         std::signal(SIGTERM, OnInterrupt);
                       },
                       [] { return interrupted.load(); }};
  cli::Machine machine{SystemSerialDriver(), SystemPortSource, SleepingPause()};
  return cli::RunKv58(args, console, machine);
}
