#pragma once
// What `kv58 serve` sends when: a schedule file, one entry a line, `#` comments,
//   mon-fri 08:00   tag:hall   send offers/morning.txt
//   every 15m       tag:queue  send --template queue.txt
// the time (daily HH:MM, days HH:MM, [days] every Nm or Nh), the displays (all, tag:NAME or a
// display's name) and kv58's own commands. Times are the machine's local time. The file is
// read as untrusted text, like a ports file: a regular file of bounded size and line length.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/kv58/command_line.h"

namespace kv58::serve {

inline constexpr std::size_t kMaxScheduleFileBytes = 1024 * 1024;
inline constexpr std::size_t kMaxScheduleLineBytes = 4096;

// When an entry runs, in local time. A day's runs are wall-clock readings: one the spring change
// skips runs at the first minute after the gap, one the autumn change shows twice runs once, at
// the first. `every` runs count from local midnight each day (every 15m: :00 :15 :30 :45; every
// 7h: 00:00 07:00 14:00 21:00, then 00:00 again), so a run is always at the same clock times.
struct When {
  std::uint8_t days = 0x7F;      // a bit per weekday, 1 << tm_wday (Sunday 0)
  std::int32_t minute = 0;       // minutes after midnight, for a run once a day
  std::int32_t everyMinutes = 0; // 0: once a day at `minute`; else the interval, 1 to 1440
};

enum class TargetKind { All, Tag, Name };
struct Target {
  TargetKind kind = TargetKind::All;
  std::string name; // the tag or the display's name
};

struct ScheduleEntry {
  std::size_t line = 0;
  When when;
  Target target;
  // As kv58 takes them on its command line; a text's path made absolute or relative to the
  // working folder from the schedule's folder. Each text is read again when the entry is due.
  std::vector<cli::Step> steps;
  std::string source; // for messages: "schedule.txt, line 4"
};

struct Schedule {
  std::vector<ScheduleEntry> entries;
};

struct ScheduleLoad {
  std::optional<Schedule> schedule;
  std::string error; // the first fault, with its line number
};

// Refuses the whole file at its first bad line, and a text file that is missing or no regular file.
[[nodiscard]] ScheduleLoad ReadSchedule(const std::string& path);

using TimePoint = std::chrono::system_clock::time_point;

// The entry's first run strictly after `after`.
[[nodiscard]] std::optional<TimePoint> NextRun(const ScheduleEntry& entry, TimePoint after);

struct DueEntry {
  const ScheduleEntry* entry = nullptr;
  TimePoint at;
};

// Every run in (after, upTo], in order of time, then of line.
[[nodiscard]] std::vector<DueEntry> DueBetween(const Schedule& schedule, TimePoint after, TimePoint upTo);

// The earliest run of any entry after `after`; none for an empty schedule.
[[nodiscard]] std::optional<TimePoint> NextWake(const Schedule& schedule, TimePoint after);

// What a display should show at `now` had it been on all day: among the entries `matches`
// accepts, the one whose latest run at or before `now` on today's local date is the latest
// (the later line on a tie). None when none has run yet today.
[[nodiscard]] std::optional<DueEntry>
CatchUp(const Schedule& schedule, const std::function<bool(const Target&)>& matches, TimePoint now);

} // namespace kv58::serve
