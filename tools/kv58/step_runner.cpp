#include "tools/kv58/step_runner.h"

#include <optional>

#include "common/debug_log.h"
#include "protocol/frame_sequence.h"
#include "protocol/text_upload.h"
#include "tools/kv58/device_steps.h"
#include "tools/kv58/port_session.h"
#include "tools/kv58/progress_bar.h"

namespace kv58::cli {
namespace {

std::string PagesText(std::size_t count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

std::string HeldText(const UploadResult& result) {
  return "the display shows the first " + std::to_string(result.leadingPagesSent) + " of " +
         PagesText(result.pageCount);
}

} // namespace

StepEnd StepRunner::Run(const Step& step, const std::string& text, std::ostream& error) {
  switch (step.kind) {
  case Step::Kind::Send:
    return SendText(step, text, error);
  case Step::Kind::Monitor:
    return Monitor(error, step.hex);
  default:
    return SendFrames(step, error);
  }
}

StepEnd StepRunner::SendFrames(const Step& step, std::ostream& error) {
  const auto stopAtFailure = [](const Frame&, bool sent) { return sent; };
  if (!kv58::SendFrames(c_.port, FramesOf(step), c_.pause, stopAtFailure)) {
    error << "kv58: " << c_.portName << ": " << DescribeStep(step)
          << " was not sent: " << WriteFailureReason(c_.port) << '\n';
    return StepEnd::Failed;
  }
  ReportSent(DescribeStep(step));
  return StepEnd::Done;
}

StepEnd StepRunner::SendText(const Step& step, const std::string& text, std::ostream& error) {
  ProgressBar bar(c_.progress, c_.showProgress);
  std::optional<PageOutcome> lost;
  std::optional<std::string> lostReason;
  bool endedOnRequest = false;
  const auto observe = [&](const PageOutcome& outcome) {
    if (!outcome.sent) {
      lost = outcome;
      lostReason = WriteFailureReason(c_.port);
      // The rest cannot mend the text; a terminator still closes what the display has.
      return c_.port.LineIsAlive() ? AfterPage::EndText : AfterPage::Abandon;
    }
    bar.Show(outcome.page + 1, outcome.pageCount);
    if (c_.secondsLeft) {
      c_.secondsLeft(SecondsLeft(outcome.page + 1, outcome.pageCount));
    }
    return AfterPage::Continue;
  };
  const auto endOnInterrupt = [&] {
    endedOnRequest = c_.interrupted();
    return endedOnRequest;
  };
  DebugLog log; // the window's log lines; the observer and the result tell what happened
  const UploadResult result = UploadText(c_.port, text, c_.pause, log, observe, endOnInterrupt);
  bar.Clear();
  if (result.Complete()) {
    ReportSent("text of " + std::to_string(text.size()) + " bytes in " + PagesText(result.pageCount));
    return StepEnd::Done;
  }
  error << "kv58: " << c_.portName << ": " << DescribeStep(step) << ": ";
  if (lost) {
    error << "page " << lost->page + 1 << " of " << lost->pageCount << " was not sent: " << *lostReason;
    if (result.terminatorSent) {
      error << "; the text was ended there, and " << HeldText(result);
    }
  } else if (!result.terminatorSent) {
    error << "the end of the text (00) was not sent: " << WriteFailureReason(c_.port);
  } else if (endedOnRequest) {
    error << "interrupted: " << HeldText(result);
  }
  error << '\n';
  return endedOnRequest && result.terminatorSent && !lost ? StepEnd::Interrupted : StepEnd::Failed;
}

StepEnd StepRunner::Monitor(std::ostream& error, bool hex) {
  MonitorOptions options = c_.monitor;
  options.hex = hex;
  switch (MonitorPort(c_.port, c_.out, options)) {
  case MonitorEnd::Stopped:
    return StepEnd::Done;
  case MonitorEnd::LineGone:
    error << "kv58: " << c_.portName << ": monitor ended: " << kLineGoneReason << '\n';
    break;
  case MonitorEnd::OutputClosed:
    error << "kv58: " << c_.portName << ": monitor ended: standard output is closed\n";
    break;
  }
  return StepEnd::Failed;
}

void StepRunner::ReportSent(const std::string& what) {
  if (!c_.quiet) {
    c_.out << c_.portName << ": sent " << what << '\n' << std::flush;
  }
}

} // namespace kv58::cli
