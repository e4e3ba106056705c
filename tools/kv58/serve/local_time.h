#pragma once
// The machine's local time (TZ on POSIX, the system's zone on Windows) through the C library,
// which every compiler we build with has; C++20's time-zone database is not in all of them.
// One implementation per platform.

#include <ctime>
#include <optional>

namespace kv58::serve {

// The wall clock at `time`, with tm_wday, tm_yday and tm_isdst filled in.
[[nodiscard]] std::optional<std::tm> LocalTime(std::time_t time);

// The instant a wall-clock reading names; tm_isdst says which reading is meant where the clock
// shows a time twice (1 summer, 0 winter, -1 the library's guess). The library moves a reading
// the clock never shows, so callers compare LocalTime of the result with what they asked for.
[[nodiscard]] std::optional<std::time_t> TimeOfLocal(std::tm local);

} // namespace kv58::serve
