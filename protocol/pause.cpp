#include "protocol/pause.h"

#include <chrono>
#include <thread>

namespace kv58 {

Pause SleepingPause() {
  // The display is owed its pauses (a page's second before the next page or the text's end):
  // a request to stop never shortens one; each is at most a second.
  return [](std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  };
}

} // namespace kv58
