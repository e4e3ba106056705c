#include "tools/kv58/fleet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>

#include "common/stop_request.h"
#include "tools/kv58/fleet_report.h"

namespace kv58::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kProgressInterval = 200ms;
constexpr auto kFirstRetryWait = 1000ms;

enum class State { Waiting, Running, Done, Failed };

struct Slot {
  std::atomic<State> state{State::Waiting};
  std::atomic<std::size_t> secondsLeft{0};
  DisplayResult result;
  std::ostringstream out;
};

std::string FleetLine(const std::vector<std::unique_ptr<Slot>>& slots) {
  std::size_t done = 0;
  std::size_t failed = 0;
  std::size_t running = 0;
  std::size_t secondsLeft = 0;
  for (const auto& slot : slots) {
    const State state = slot->state.load();
    done += state == State::Done ? 1 : 0;
    failed += state == State::Failed ? 1 : 0;
    running += state == State::Running ? 1 : 0;
    secondsLeft = std::max(secondsLeft, slot->secondsLeft.load());
  }
  return std::to_string(slots.size()) + " displays: " + std::to_string(done) + " done, " +
         std::to_string(failed) + " failed, " + std::to_string(running) + " in progress, " +
         std::to_string(secondsLeft) + " s left";
}

DisplayResult NotStarted() {
  DisplayResult result;
  result.outcome = Outcome::NotStarted;
  result.message = std::string(kNotStartedText);
  result.attempts = 0;
  return result;
}

// Waits before another attempt; false when the user asked to stop meanwhile.
bool WaitToRetry(int attemptsMade) {
  const auto end = Clock::now() + RetryWait(attemptsMade);
  while (Clock::now() < end && !StopRequested()) {
    std::this_thread::sleep_until(std::min(end, Clock::now() + kStopPollInterval));
  }
  return !StopRequested();
}

// A stop that came while waiting to try again: the display stays as the last attempt left it,
// and the run was interrupted (attempts were made: it is no display that never started).
DisplayResult StoppedWhileWaiting(DisplayResult last) {
  last.outcome = Outcome::Interrupted;
  last.kind = FailureKind::None;
  last.message = "interrupted while waiting to try again, after: " + last.message;
  return last;
}

// The last attempt's result, with what earlier ones left on the display: a text left open
// that no later attempt could end is the display's state, whatever the last attempt met.
DisplayResult WithEarlierAttempts(DisplayResult result, const DisplayState& state) {
  result.earlier = state.earlier;
  if (!state.openText || (result.text && result.text->open)) {
    return result;
  }
  // Only an attempt that never reached the port leaves an earlier one's text open.
  const std::string then(OutcomeText(result.outcome));
  result.outcome = IsStop(result.outcome) ? Outcome::Interrupted : Outcome::Partial;
  result.text = state.openText;
  result.message = "the display holds " + HeldText(*state.openText) + ", left by an earlier attempt; then " +
                   then + ": " + result.message;
  return result;
}

// As many workers as asked and as the system lets start: a thread that cannot be started
// leaves its displays to the others, and with none started the caller serves them all.
std::vector<std::thread> StartWorkers(std::size_t wanted, const std::function<void()>& worker) {
  std::vector<std::thread> threads;
  for (std::size_t j = 0; j < wanted; ++j) {
    try {
      threads.emplace_back(worker);
    } catch (const std::system_error&) {
      break;
    }
  }
  return threads;
}

void ShowProgress(const FleetRun& run, const std::vector<std::unique_ptr<Slot>>& slots,
                  const std::function<bool()>& allEnded) {
  std::size_t shownWidth = 0;
  while (run.progress != nullptr && !allEnded()) {
    const std::string line = FleetLine(slots);
    *run.progress << '\r' << line << std::string(shownWidth > line.size() ? shownWidth - line.size() : 0, ' ')
                  << std::flush;
    shownWidth = std::max(shownWidth, line.size());
    std::this_thread::sleep_for(kProgressInterval);
  }
  if (run.progress != nullptr && shownWidth > 0) {
    *run.progress << '\r' << std::string(shownWidth, ' ') << '\r' << std::flush;
  }
}

int Report(const std::vector<Display>& displays, const std::vector<DisplayResult>& results, bool json,
           std::ostream& report) {
  const std::vector<std::string> shared = json ? std::vector<std::string>{} : SharedNotes(results);
  Outcome worst = Outcome::Done;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    const DisplayResult& result = results[i];
    const bool noteShared = std::find(shared.begin(), shared.end(), result.note) != shared.end();
    report << (json ? JsonReportLine(displays[i], result) : ReportLine(displays[i], result, noteShared))
           << '\n';
    worst = result.outcome == Outcome::Done ? worst : Outcome::Failed;
  }
  for (const std::string& note : shared) {
    report << "note: " << note << '\n';
  }
  report << std::flush;
  return ExitStatusOfRun(worst);
}

} // namespace

std::chrono::milliseconds RetryWait(int attemptsMade) {
  thread_local std::mt19937 random{std::random_device{}()};
  const auto base = kFirstRetryWait * (1LL << std::clamp(attemptsMade - 1, 0, 10));
  std::uniform_int_distribution<long long> jitter(0, base.count() / 4);
  return base + std::chrono::milliseconds(jitter(random));
}

bool WorthRetrying(const DisplayResult& result) {
  return !IsStop(result.outcome) && result.outcome != Outcome::Done && IsRetried(result.kind);
}

DisplayResult ServeWithRetries(const Display& display, const FleetRun& run, std::ostream& out,
                               const std::function<void(std::size_t seconds)>& secondsLeft,
                               DisplayState& state) {
  if (StopRequested()) {
    return NotStarted();
  }
  const auto started = Clock::now();
  DisplayResult result = run.serve(display, out, secondsLeft, state);
  int attempts = 1;
  while (attempts <= run.retries && WorthRetrying(result)) {
    if (!WaitToRetry(attempts)) {
      result = StoppedWhileWaiting(std::move(result));
      break;
    }
    result = run.serve(display, out, secondsLeft, state);
    ++attempts;
  }
  result = WithEarlierAttempts(std::move(result), state);
  result.attempts = attempts;
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return result;
}

int RunFleet(const std::vector<Display>& displays, const FleetRun& run, std::ostream& report) {
  std::vector<std::unique_ptr<Slot>> slots;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    slots.push_back(std::make_unique<Slot>());
  }
  std::atomic<std::size_t> next{0};
  const std::function<void()> worker = [&] {
    for (std::size_t i = next++; i < displays.size(); i = next++) {
      Slot& slot = *slots[i];
      slot.state = State::Running;
      DisplayState state;
      slot.result = ServeWithRetries(
          displays[i], run, slot.out, [&slot](std::size_t seconds) { slot.secondsLeft = seconds; }, state);
      slot.secondsLeft = 0;
      slot.state = slot.result.outcome == Outcome::Done ? State::Done : State::Failed;
    }
  };
  const auto allEnded = [&] {
    return std::all_of(slots.begin(), slots.end(), [](const auto& slot) {
      return slot->state == State::Done || slot->state == State::Failed;
    });
  };
  std::vector<std::thread> threads =
      StartWorkers(std::min(displays.size(), run.jobs == 0 ? displays.size() : run.jobs), worker);
  if (threads.empty()) {
    worker();
  }
  ShowProgress(run, slots, allEnded);
  for (auto& thread : threads) {
    thread.join();
  }
  std::vector<DisplayResult> results;
  for (const auto& slot : slots) {
    results.push_back(std::move(slot->result));
  }
  return Report(displays, results, run.json, report);
}

} // namespace kv58::cli
