#pragma once
// kv58 for many displays in one call (several --port, or --ports-file): each display is served
// by a thread and a driver of its own, so a display that fails never holds up the others, and
// one whose connection could not be made or was lost is tried again if asked. On a terminal
// one line shows the whole fleet; at the end a report gives a line per display, as text or as
// JSON Lines.

#include <chrono>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/kv58/display.h"
#include "tools/kv58/display_result.h"

namespace kv58::cli {

struct FleetRun {
  // Serves one display once: its steps, with what they print going to `out`, its upload's
  // seconds left told through `secondsLeft`, and what an attempt leaves for the next in `state`.
  // A stop request (common/stop_request.h) starts no display and no attempt after it.
  std::function<DisplayResult(const Display& display, std::ostream& out,
                              const std::function<void(std::size_t seconds)>& secondsLeft,
                              DisplayState& state)>
      serve;
  std::size_t jobs = 0;             // displays served at once; 0 for all
  int retries = 0;                  // further attempts for a display whose connection failed
  bool json = false;                // the report as JSON Lines
  std::ostream* progress = nullptr; // the fleet's progress line, redrawn; none: no line
};

// The waits before the attempts after the first: 1 s, 2 s, 4 s ... and a random part of up to
// a quarter, so that displays failed together do not all come back at once.
[[nodiscard]] std::chrono::milliseconds RetryWait(int attemptsMade);
// Whether another attempt may mend what went wrong: a failure of a kind that is retried
// (failure_kind.h), never a stop.
[[nodiscard]] bool WorthRetrying(const DisplayResult& result);

// One display with its further attempts, each beginning its steps from the first once the
// display is out of any text an earlier attempt, or an earlier call with the same `state`,
// left open.
[[nodiscard]] DisplayResult ServeWithRetries(const Display& display, const FleetRun& run, std::ostream& out,
                                             const std::function<void(std::size_t seconds)>& secondsLeft,
                                             DisplayState& state);

// Serves every display and prints its report to `report`, in the order given. The exit
// status: 0 when every display got everything, 128 + the signal when the user interrupted, 1
// when any display failed.
[[nodiscard]] int RunFleet(const std::vector<Display>& displays, const FleetRun& run, std::ostream& report);

} // namespace kv58::cli
