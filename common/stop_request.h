#pragma once
// The user's request to stop (Ctrl+C, SIGTERM), as every wait of the program sees it. The
// first asks that what is being sent end whole, and every wait on a device server then gives
// up within kGraceAfterStop; the second asks to stop at once, and every wait gives up now.
// Set from a signal handler: nothing here allocates or locks.

#include <chrono>

namespace kv58 {

enum class StopLevel { None, Finish, AtOnce };

// How long, from the first request, a wait may still go on: long enough for a page's pause
// and the text's end, short enough that the program ends within about a second.
inline constexpr std::chrono::milliseconds kGraceAfterStop{1200};
// The longest slice of a wait between two looks at the request.
inline constexpr std::chrono::milliseconds kStopPollInterval{200};

// Raises the level; never lowers it. `signal` is the one that asked (SIGINT, SIGTERM), kept
// from the first request; 0 for a request of the program's own. Safe in a signal handler.
void RequestStop(StopLevel level, int signal = 0) noexcept;
[[nodiscard]] StopLevel CurrentStop() noexcept;
[[nodiscard]] inline bool StopRequested() noexcept { return CurrentStop() != StopLevel::None; }
// The signal of the first request, 0 while none came or it came from the program itself.
[[nodiscard]] int StopSignal() noexcept;
// For tests: as if nobody had asked.
void ClearStopRequest() noexcept;

// `deadline`, brought forward by a stop request: to kGraceAfterStop after the first, to now
// after the second. For waits that a stop may cut short, never for a pause the display is
// owed (a page's second before its end): that one runs out whatever is asked.
[[nodiscard]] std::chrono::steady_clock::time_point
StopBoundDeadline(std::chrono::steady_clock::time_point deadline) noexcept;

// A wait's next slice: until `deadline` as a stop request bounds it, at most kStopPollInterval.
[[nodiscard]] std::chrono::steady_clock::time_point
NextWaitSlice(std::chrono::steady_clock::time_point deadline) noexcept;

} // namespace kv58
