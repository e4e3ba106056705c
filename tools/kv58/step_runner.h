#pragma once
// Sends the steps of one call on an open port, in order, and stops at the first that the
// port does not take, saying which and why. Each step has the window's frames and pauses.
// A stop request (common/stop_request.h) lets the step being sent end cleanly: a settings step
// finishes its frames, a text ends after the page being written, with its terminator.

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/pause.h"
#include "serial/com_socket.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/failure_kind.h"
#include "tools/kv58/monitor.h"
#include "tools/kv58/outcome.h"

namespace kv58::cli {

// A step with what it sends beyond its frames: the loaded text of a send step.
struct PlannedStep {
  Step step;
  std::string text;
};
// Every step of a call, its texts read before any port is opened.
using Plan = std::vector<PlannedStep>;

struct StepContext {
  TCOMSocket& port;
  Pause pause;
  std::string portName;   // as messages name the port
  std::ostream& out;      // a line per step sent, unless quiet; what monitor receives
  std::ostream& progress; // the upload's progress bar, when shown
  bool quiet = false;
  bool showProgress = false;
  MonitorOptions monitor;
  std::function<void(std::size_t seconds)> secondsLeft = nullptr; // an upload's, after each page
};

enum class StepEnd {
  Done,
  Failed,      // see the message
  Interrupted, // ended early on the user's request; the message says what the display holds
};

struct StepResult {
  StepEnd end = StepEnd::Done;
  std::string message;                  // for Failed and Interrupted: what happened, naming the step
  std::optional<TextAccount> text;      // for a send step
  FailureKind kind = FailureKind::None; // for Failed
};

class StepRunner {
public:
  explicit StepRunner(StepContext context) : c_(std::move(context)) {}

  [[nodiscard]] StepResult Run(const PlannedStep& planned);

private:
  [[nodiscard]] StepResult SendFrames(const Step& step);
  [[nodiscard]] StepResult SendText(const Step& step, const std::string& text);
  [[nodiscard]] StepResult Monitor(bool hex);
  void ReportSent(const std::string& what);

  StepContext c_;
};

} // namespace kv58::cli
