#include "common/stop_request.h"

#include <algorithm>
#include <atomic>

namespace kv58 {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> level{static_cast<int>(StopLevel::None)};
std::atomic<Clock::rep> firstRequestAt{0}; // ticks of the steady clock; set with the first request
std::atomic<int> firstSignal{0};

} // namespace

void RequestStop(StopLevel requested, int signal) noexcept {
  // Who asked and when are set before the level rises, so whoever sees the level sees them.
  int noSignal = 0;
  if (level.load() == static_cast<int>(StopLevel::None)) {
    (void)firstSignal.compare_exchange_strong(noSignal, signal);
  }
  Clock::rep none = 0;
  (void)firstRequestAt.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
  const int wanted = static_cast<int>(requested);
  int now = level.load();
  while (now < wanted && !level.compare_exchange_weak(now, wanted)) {
  }
}

int StopSignal() noexcept { return firstSignal.load(); }

StopLevel CurrentStop() noexcept { return static_cast<StopLevel>(level.load()); }

void ClearStopRequest() noexcept {
  level = static_cast<int>(StopLevel::None);
  firstRequestAt = 0;
  firstSignal = 0;
}

Clock::time_point StopBoundDeadline(Clock::time_point deadline) noexcept {
  switch (CurrentStop()) {
  case StopLevel::None:
    return deadline;
  case StopLevel::Finish:
    return std::min(deadline, Clock::time_point(Clock::duration(firstRequestAt.load())) + kGraceAfterStop);
  case StopLevel::AtOnce:
    break;
  }
  return std::min(deadline, Clock::now());
}

Clock::time_point NextWaitSlice(Clock::time_point deadline) noexcept {
  return std::min(StopBoundDeadline(deadline), Clock::now() + kStopPollInterval);
}

} // namespace kv58
