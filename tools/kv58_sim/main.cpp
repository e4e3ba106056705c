// kv58-sim: a pseudo-terminal (or a device server's address) that stands in for the
// scrolling text display.
// Run with --help for what it does and prints.

#include <exception>
#include <iostream>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "tools/kv58_sim/network_simulator.h"
#include "tools/kv58_sim/own_console.h"
#include "tools/kv58_sim/sim_options.h"
#ifndef _WIN32
#include "tools/kv58_sim/simulator.h"
#endif

namespace {

int Serve(const kv58::sim::SimOptions& options) {
#ifndef _WIN32
  if (options.listen.empty()) {
    kv58::sim::Simulator simulator(options, STDOUT_FILENO, STDERR_FILENO);
    return simulator.Run();
  }
#endif
  kv58::sim::NetworkSimulator simulator(options, STDOUT_FILENO, STDERR_FILENO);
  return simulator.Run();
}

int Run(const kv58::sim::CommandLine& commandLine) {
  using kv58::sim::CommandLine;
  switch (commandLine.action) {
  case CommandLine::Action::ShowHelp:
    std::cout << kv58::sim::UsageText() << std::flush;
    return 0;
  case CommandLine::Action::Fail:
    std::cerr << "kv58-sim: " << commandLine.error << "\nTry 'kv58-sim --help'.\n";
    return 2;
  case CommandLine::Action::Run:
    break;
  }
  try {
    return Serve(commandLine.options);
  } catch (const std::exception& error) {
    std::cerr << "kv58-sim: " << error.what() << '\n';
    return 1;
  }
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const int status = Run(kv58::sim::ParseCommandLine(args));
  if (status != 0) {
    kv58::sim::KeepOwnConsoleForReading();
  }
  return status;
}
