#pragma once
// How one display's run ended: what kv58 says of it on its own, and what a fleet's report
// tells of it.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "tools/kv58/failure_kind.h"
#include "tools/kv58/outcome.h"

namespace kv58::cli {

// What is said of a display that the user's request to stop reached before its port opened.
inline constexpr std::string_view kNotStartedText =
    "interrupted before the port was opened: nothing was sent";

struct DisplayResult {
  Outcome outcome = Outcome::Done;
  FailureKind kind = FailureKind::None; // what failed; None when done or stopped
  std::string message;                  // what went wrong, or how it was interrupted; empty when done
  std::string note;                // what the port could not do as asked (a device server's line settings)
  std::optional<TextAccount> text; // how much of the last text sent the display holds
  std::string
      earlier;      // what the display showed before this attempt, when an earlier one left it inside a text
  int attempts = 1; // how many times its steps were begun
  double seconds = 0; // from its first attempt to its end
};

// What a display carries from one attempt to the next within a run.
struct DisplayState {
  // A text that an attempt left open: the display takes whatever comes next as more of it,
  // so the next attempt ends it before anything else.
  std::optional<TextAccount> openText;
  std::chrono::steady_clock::time_point lastPageAt; // when its last page was written
  std::string earlier;                              // what the display showed meanwhile, once ended
};

} // namespace kv58::cli
