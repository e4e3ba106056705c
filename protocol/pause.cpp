#include "protocol/pause.h"

#include <chrono>
#include <thread>

#include "common/stop_request.h"

namespace kv58 {

Pause SleepingPause() {
  // A request to stop bounds the pause as it bounds every wait: a page's pause still runs
  // out when the page left in time, and nothing waits long after the request.
  return [](std::uint32_t milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < StopBoundDeadline(end)) {
      std::this_thread::sleep_until(NextWaitSlice(end));
    }
  };
}

} // namespace kv58
