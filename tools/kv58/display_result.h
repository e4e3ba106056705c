#pragma once
// How one display's run ended: what kv58 says of it on its own, and what a fleet's report
// tells of it.

#include <optional>
#include <string>
#include <string_view>

#include "tools/kv58/step_runner.h"

namespace kv58::cli {

// What is said of a display that the user's request to stop reached before its port opened.
inline constexpr std::string_view kNotStartedText =
    "interrupted before the port was opened: nothing was sent";

struct DisplayResult {
  int status = 0;                  // kv58's exit status for this display alone
  bool reached = false;            // whether its port opened
  std::string message;             // what went wrong, or how it was interrupted; empty when it got everything
  std::string note;                // what the port could not do as asked (a device server's line settings)
  std::optional<TextAccount> text; // how much of the last text sent the display holds
  std::string kind;                // what kind of failure, as reports name it; empty when done
  int attempts = 1;                // how many times its steps were begun
  double seconds = 0;              // from its first attempt to its end
};

} // namespace kv58::cli
