#include "tools/kv58_sim/own_console.h"

#include <array>
#include <cstdio>
#include <iostream>
#include <string>

// After our own headers, as everywhere <windows.h> comes in.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kv58::sim {

void KeepOwnConsoleForReading() {
  std::array<DWORD, 2> processes{};
  if (::GetConsoleProcessList(processes.data(), static_cast<DWORD>(processes.size())) != 1) {
    return; // no console, or a command prompt that stays open
  }
  std::cerr << "Press Enter to close this window." << std::endl;
  std::string line;
  std::getline(std::cin, line);
}

} // namespace kv58::sim
