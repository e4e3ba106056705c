// kv58-sim: a pseudo-terminal (or a device server's address) that stands in for the
// scrolling text display.
// Run with --help for what it does and prints.

#include <exception>
#include <iostream>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "tools/kv58_sim/network_simulator.h"
#include "tools/kv58_sim/sim_options.h"
#include "tools/kv58_sim/simulator.h"

int main(int argc, char** argv) {
  using kv58::sim::CommandLine;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const CommandLine commandLine = kv58::sim::ParseCommandLine(args);
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
    if (!commandLine.options.listen.empty()) {
      kv58::sim::NetworkSimulator simulator(commandLine.options, STDOUT_FILENO, STDERR_FILENO);
      return simulator.Run();
    }
    kv58::sim::Simulator simulator(commandLine.options, STDOUT_FILENO, STDERR_FILENO);
    return simulator.Run();
  } catch (const std::exception& error) {
    std::cerr << "kv58-sim: " << error.what() << '\n';
    return 1;
  }
}
