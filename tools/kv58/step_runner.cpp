#include "tools/kv58/step_runner.h"

#include <optional>

#include "common/debug_log.h"
#include "common/stop_request.h"
#include "protocol/frame_sequence.h"
#include "protocol/text_upload.h"
#include "tools/kv58/device_steps.h"
#include "tools/kv58/port_session.h"
#include "tools/kv58/progress_bar.h"

namespace kv58::cli {
namespace {

std::string PagesText(std::size_t count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

// A page that went wrong, and what the display may hold after it.
std::string LostPageText(const PageOutcome& lost, const std::string& reason, const UploadResult& result) {
  const std::string which = "page " + std::to_string(lost.page + 1) + " of " + std::to_string(lost.pageCount);
  if (lost.sent) {
    // Written whole, but not known to have left: the display has it, or not.
    return which + " was written but not acknowledged: the display may show up to " +
           PagesText(lost.page + 1) + (result.terminatorSent ? "; the text was ended there" : "");
  }
  std::string text = which + " was not sent: " + reason;
  if (result.terminatorSent) {
    text += "; the text was ended there, and the display shows " +
            HeldText(TextAccount{result.leadingPagesSent, result.pageCount});
    if (lost.bytesTaken > 0) {
      text += " and " + std::to_string(lost.bytesTaken) + " bytes of the next";
    }
  }
  return text;
}

} // namespace

StepResult StepRunner::Run(const PlannedStep& planned) {
  const Step& step = planned.step;
  switch (step.kind) {
  case Step::Kind::Send:
    return SendText(step, planned.text);
  case Step::Kind::Monitor:
    return Monitor(step.hex);
  case Step::Kind::Speed:
  case Step::Kind::Lines:
  case Step::Kind::Scroll:
  case Step::Kind::Store:
  case Step::Kind::Reset:
    break;
  }
  return SendFrames(step);
}

StepResult StepRunner::SendFrames(const Step& step) {
  const auto stopAtFailure = [](const Frame&, bool sent) { return sent; };
  if (!kv58::SendFrames(c_.port, FramesOf(step), c_.pause, stopAtFailure)) {
    const bool stopped = StopRequested();
    return {stopped ? StepEnd::Interrupted : StepEnd::Failed,
            (stopped ? "interrupted: " : "") + DescribeStep(step) +
                " was not sent: " + WriteFailureReason(c_.port),
            {},
            stopped ? FailureKind::None : WriteFailureKind(c_.port)};
  }
  ReportSent(DescribeStep(step));
  return {};
}

StepResult StepRunner::SendText(const Step& step, const std::string& text) {
  ProgressBar bar(c_.progress, c_.showProgress);
  std::optional<PageOutcome> lost;
  std::string lostReason;
  const auto observe = [&](const PageOutcome& outcome) {
    if (!outcome.sent || !outcome.drained) {
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
  DebugLog log; // the window's log lines; the observer and the result tell what happened
  const UploadResult result =
      UploadText(c_.port, text, c_.pause, log, observe, [] { return StopRequested(); });
  bar.Clear();
  TextAccount account{result.leadingPagesSent, result.pageCount, !result.terminatorSent,
                      result.leadingPagesSent};
  if (lost && (lost->bytesTaken > 0 || lost->sent)) {
    // Taken by the port, but not known to have reached the display.
    account.pagesWritten = lost->page;
    account.partOfNext = true;
  }
  if (result.Complete()) {
    ReportSent("text of " + std::to_string(text.size()) + " bytes in " + PagesText(result.pageCount));
    return {StepEnd::Done, {}, account, {}};
  }
  // Asked to stop, a text that went wrong meanwhile (a device server that stopped answering)
  // is an interruption all the same; the message says what the display holds.
  const bool stopped = StopRequested();
  std::string message = DescribeStep(step) + ": " + (stopped ? "interrupted: " : "");
  if (lost) {
    message += LostPageText(*lost, lostReason, result);
  } else if (!result.terminatorSent) {
    message += "the end of the text (00) was not sent: " + WriteFailureReason(c_.port);
  } else {
    message += "the display shows " + HeldText(account);
  }
  if (account.open) {
    message += "; the display holds " + HeldText(account);
  }
  return {stopped ? StepEnd::Interrupted : StepEnd::Failed, message, account,
          stopped ? FailureKind::None : WriteFailureKind(c_.port)};
}

StepResult StepRunner::Monitor(bool hex) {
  MonitorOptions options = c_.monitor;
  options.hex = hex;
  switch (MonitorPort(c_.port, c_.out, options)) {
  case MonitorEnd::Stopped:
    return {};
  case MonitorEnd::LineGone:
    return {StepEnd::Failed, "monitor ended: " + std::string(kLineGoneReason), {}, FailureKind::Lost};
  case MonitorEnd::OutputClosed:
    break;
  }
  return {StepEnd::Failed, "monitor ended: standard output is closed", {}, FailureKind::OutputClosed};
}

void StepRunner::ReportSent(const std::string& what) {
  if (!c_.quiet) {
    c_.out << c_.portName << ": sent " << what << '\n' << std::flush;
  }
}

} // namespace kv58::cli
