#pragma once
// The blocking waits of the device protocol (between pages of an upload, between a scroll-type
// command and its reset), handed in as a function so that tests can record them instead.

#include <cstdint>
#include <functional>

namespace kv58 {

using Pause = std::function<void(std::uint32_t milliseconds)>;

// A pause that really waits, blocking the calling thread, within what a request of the user's
// to stop leaves (common/stop_request.h).
[[nodiscard]] Pause SleepingPause();

} // namespace kv58
