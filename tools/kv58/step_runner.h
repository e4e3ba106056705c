#pragma once
// Sends the steps of one call on an open port, in order, and stops at the first that the
// port does not take, saying which and why. Each step has the window's frames and pauses.

#include <functional>
#include <ostream>
#include <string>

#include "protocol/pause.h"
#include "serial/com_socket.h"
#include "serial/serial_driver.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/monitor.h"

namespace kv58::cli {

struct StepContext {
  TCOMSocket& port;
  SerialDriver& driver;
  Pause pause;
  std::string portName;
  std::ostream& out;      // a line per step sent, unless quiet; what monitor receives
  std::ostream& progress; // the upload's progress bar, when shown
  bool quiet = false;
  bool showProgress = false;
  MonitorOptions monitor;
};

class StepRunner {
public:
  explicit StepRunner(StepContext context) : c_(std::move(context)) {}

  // `text` is the loaded text of a send step. False after printing the error to `error`.
  [[nodiscard]] bool Run(const Step& step, const std::string& text, std::ostream& error);

private:
  [[nodiscard]] bool SendFrames(const Step& step, std::ostream& error);
  [[nodiscard]] bool SendText(const Step& step, const std::string& text, std::ostream& error);
  [[nodiscard]] bool Monitor(const Step& step, std::ostream& error);
  void ReportSent(const std::string& what);

  StepContext c_;
};

} // namespace kv58::cli
