#pragma once
// kv58 for many displays in one call (several --port, or --ports-file): each display is served
// by a thread and a driver of its own, so a display that fails never holds up the others. On
// a terminal one line shows the whole fleet; at the end a report gives a line per display.

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "serial/port_name.h"
#include "tools/kv58/display_result.h"

namespace kv58::cli {

struct Display {
  std::string name; // as the ports file names it, or the port's canonical spelling
  PortName port;
};

// The displays of a ports file: one a line, an optional name and then the port, blanks
// between; '#' begins a comment. The displays, or the first fault with its line number.
struct PortsFile {
  std::vector<Display> displays;
  std::optional<std::string> error;
};
[[nodiscard]] PortsFile ReadPortsFile(const std::string& path);

struct FleetRun {
  // Serves one display: its steps, with what they print going to `out`, and its upload's
  // seconds left told through `secondsLeft`.
  std::function<DisplayResult(const Display& display, std::ostream& out,
                              const std::function<void(std::size_t seconds)>& secondsLeft)>
      serve;
  // The signal by which the user asked to stop, 0 while none: no display starts after it.
  std::function<int()> stopSignal;
  std::size_t jobs = 0;             // displays served at once; 0 for all
  std::ostream* progress = nullptr; // the fleet's progress line, redrawn; none: no line
};

// Serves every display and prints a line per display to `report`, in the order given. The
// exit status: 0 when every display got everything, 128 + the signal when the user
// interrupted, 1 when any display failed.
[[nodiscard]] int RunFleet(const std::vector<Display>& displays, const FleetRun& run, std::ostream& report);

} // namespace kv58::cli
