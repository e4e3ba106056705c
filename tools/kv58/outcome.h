#pragma once
// How a display's run ended, as one value that every face reads: the report's words, the
// JSON status, the exit status and --help take it from the one table in outcome.cpp.

#include <string>
#include <string_view>

namespace kv58::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitDeviceError = 1;
inline constexpr int kExitUsageError = 2;

enum class Outcome {
  Done,         // every command was sent
  Partial,      // given up while the display holds part of a text (see the account)
  Interrupted,  // the user asked to stop after its port opened
  NotStarted,   // the user asked to stop before its port opened
  NotReachable, // its port never opened
  Failed,       // its port opened, and a command was not sent
};

// "done", "not-reachable": the report's status words, for scripts.
[[nodiscard]] std::string_view OutcomeWord(Outcome outcome);
// "done", "not reachable": as the text report says it.
[[nodiscard]] std::string_view OutcomeText(Outcome outcome);
// The exit status of a run that ended so: 128 + `stopSignal` for a stop (130 when no signal
// is known), else kExitDone or kExitDeviceError.
[[nodiscard]] int ExitStatusOf(Outcome outcome, int stopSignal);
[[nodiscard]] bool IsStop(Outcome outcome);
// The exit status of a whole run whose displays ended at worst in `outcome`: any stop the user
// asked for (common/stop_request.h) decides it, as the shell reports a process the signal ended.
[[nodiscard]] int ExitStatusOfRun(Outcome outcome);
// --help's lines on the status words: "done, partial, ...".
[[nodiscard]] std::string OutcomeWordsText();

// How much of a text the display holds.
struct TextAccount {
  std::size_t pagesShown = 0; // the leading pages that arrived whole, ended by the terminator
  std::size_t pageCount = 0;
  // The display was left inside the text: the text's frame went out and its end (00) did not,
  // so it takes whatever comes next as more text. `pagesWritten` of its pages were written.
  bool open = false;
  std::size_t pagesWritten = 0;
  bool partOfNext = false; // the page after them was taken in part, or not known to have arrived
};

// "the first 3 of 8 pages and no end", "the first 2 of 3 pages".
[[nodiscard]] std::string HeldText(const TextAccount& account);

} // namespace kv58::cli
