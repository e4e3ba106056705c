#include "protocol/pause.h"

#include <chrono>
#include <thread>

namespace kv58 {

Pause SleepingPause() {
  return [](std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  };
}

} // namespace kv58
