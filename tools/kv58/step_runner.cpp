#include "tools/kv58/step_runner.h"

#include "common/debug_log.h"
#include "protocol/text_upload.h"
#include "tools/kv58/device_steps.h"
#include "tools/kv58/port_session.h"
#include "tools/kv58/progress_bar.h"

namespace kv58::cli {

bool StepRunner::Run(const Step& step, const std::string& text, std::ostream& error) {
  switch (step.kind) {
  case Step::Kind::Send:
    return SendText(step, text, error);
  case Step::Kind::Monitor:
    return Monitor(step, error);
  default:
    return SendFrames(step, error);
  }
}

bool StepRunner::SendFrames(const Step& step, std::ostream& error) {
  for (const Frame& frame : FramesOf(step)) {
    if (!SendCommand(c_.port, frame.code, frame.parameter)) {
      error << "kv58: " << c_.portName << ": " << DescribeStep(step)
            << " was not sent: " << WriteFailureReason(c_.driver, c_.port) << '\n';
      return false;
    }
    if (frame.pauseAfterMs > 0) {
      c_.pause(frame.pauseAfterMs);
    }
  }
  ReportSent(DescribeStep(step));
  return true;
}

bool StepRunner::SendText(const Step& step, const std::string& text, std::ostream& error) {
  ProgressBar bar(c_.progress, c_.showProgress);
  std::optional<PageOutcome> lost;
  const auto observe = [&](const PageOutcome& outcome) {
    if (!outcome.sent) {
      lost = outcome;
      return false; // the text on the display is broken already; the rest cannot mend it
    }
    bar.Show(outcome.page + 1, outcome.pageCount);
    return true;
  };
  DebugLog log; // the window's log lines; the observer and the result tell what happened
  const bool sent = UploadText(c_.port, text, c_.pause, log, observe);
  bar.Clear();
  if (!sent) {
    const std::string what = lost ? "page " + std::to_string(lost->page + 1) + " of " +
                                        std::to_string(lost->pageCount) + " was not sent"
                                  : "the end of the text (00) was not sent";
    error << "kv58: " << c_.portName << ": " << DescribeStep(step) << ": " << what << ": "
          << WriteFailureReason(c_.driver, c_.port) << '\n';
    return false;
  }
  ReportSent("text of " + std::to_string(text.size()) + " bytes in " +
             std::to_string(PageCount(text.size())) + (PageCount(text.size()) == 1 ? " page" : " pages"));
  return true;
}

bool StepRunner::Monitor(const Step& step, std::ostream& error) {
  MonitorOptions options = c_.monitor;
  options.hex = step.hex;
  if (!MonitorPort(c_.port, c_.driver, c_.out, options)) {
    error << "kv58: " << c_.portName << ": monitor ended: "
          << "the port is gone (the device was unplugged, or the other end of the line closed)\n";
    return false;
  }
  return true;
}

void StepRunner::ReportSent(const std::string& what) {
  if (!c_.quiet) {
    c_.out << c_.portName << ": sent " << what << '\n' << std::flush;
  }
}

} // namespace kv58::cli
