#include "tools/kv58/outcome.h"

#include <array>
#include <csignal>

#include "common/stop_request.h"

namespace kv58::cli {
namespace {

struct OutcomeRow {
  Outcome outcome;
  std::string_view word;
  std::string_view text;
};

constexpr std::array kOutcomes{
    OutcomeRow{Outcome::Done, "done", "done"},
    OutcomeRow{Outcome::Partial, "partial", "partial"},
    OutcomeRow{Outcome::Interrupted, "interrupted", "interrupted"},
    OutcomeRow{Outcome::NotStarted, "not-started", "not started"},
    OutcomeRow{Outcome::NotReachable, "not-reachable", "not reachable"},
    OutcomeRow{Outcome::Failed, "failed", "failed"},
};

const OutcomeRow& RowOf(Outcome outcome) {
  for (const OutcomeRow& row : kOutcomes) {
    if (row.outcome == outcome) {
      return row;
    }
  }
  return kOutcomes.back();
}

std::string PagesText(std::size_t count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

} // namespace

std::string_view OutcomeWord(Outcome outcome) { return RowOf(outcome).word; }

std::string_view OutcomeText(Outcome outcome) { return RowOf(outcome).text; }

bool IsStop(Outcome outcome) { return outcome == Outcome::Interrupted || outcome == Outcome::NotStarted; }

int ExitStatusOf(Outcome outcome, int stopSignal) {
  if (IsStop(outcome)) {
    return 128 + (stopSignal != 0 ? stopSignal : SIGINT);
  }
  return outcome == Outcome::Done ? kExitDone : kExitDeviceError;
}

int ExitStatusOfRun(Outcome outcome) {
  return ExitStatusOf(StopRequested() ? Outcome::Interrupted : outcome, StopSignal());
}

std::string OutcomeWordsText() {
  std::string words;
  for (const OutcomeRow& row : kOutcomes) {
    words += (words.empty() ? "" : ", ") + std::string(row.word);
  }
  return words;
}

std::string HeldText(const TextAccount& account) {
  const std::size_t pages = account.open ? account.pagesWritten : account.pagesShown;
  const std::string perhaps = account.partOfNext ? " (perhaps part of the next)" : "";
  return "the first " + std::to_string(pages) + " of " + PagesText(account.pageCount) + perhaps +
         (account.open ? " and no end" : "");
}

} // namespace kv58::cli
