#pragma once
// Sends the steps of one call on an open port, in order, and stops at the first that the
// port does not take, saying which and why. Each step has the window's frames and pauses.
// An interrupt lets the step being sent end cleanly: a settings step finishes its frames, a
// text ends after the page being written, with its terminator.

#include <functional>
#include <ostream>
#include <string>

#include "protocol/pause.h"
#include "serial/com_socket.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/monitor.h"

namespace kv58::cli {

struct StepContext {
  TCOMSocket& port;
  Pause pause;
  std::string portName;
  std::ostream& out;      // a line per step sent, unless quiet; what monitor receives
  std::ostream& progress; // the upload's progress bar, when shown
  bool quiet = false;
  bool showProgress = false;
  MonitorOptions monitor;
  std::function<bool()> interrupted;                              // whether the user has asked kv58 to stop
  std::function<void(std::size_t seconds)> secondsLeft = nullptr; // an upload's, after each page
};

enum class StepEnd {
  Done,
  Failed,      // the error is printed
  Interrupted, // ended early but cleanly on the user's request; what the display holds is printed
};

class StepRunner {
public:
  explicit StepRunner(StepContext context) : c_(std::move(context)) {}

  // `text` is the loaded text of a send step; errors and interruptions go to `error`.
  [[nodiscard]] StepEnd Run(const Step& step, const std::string& text, std::ostream& error);

private:
  [[nodiscard]] StepEnd SendFrames(const Step& step, std::ostream& error);
  [[nodiscard]] StepEnd SendText(const Step& step, const std::string& text, std::ostream& error);
  [[nodiscard]] StepEnd Monitor(std::ostream& error, bool hex);
  void ReportSent(const std::string& what);

  StepContext c_;
};

} // namespace kv58::cli
