#include "tools/kv58/serve/schedule.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <system_error>

#include "common/int_parse.h"
#include "tools/kv58/ports_file.h"
#include "tools/kv58/serve/local_time.h"
#include "tools/kv58/text_input.h"

namespace kv58::serve {
namespace {

constexpr std::int32_t kMinutesPerDay = 24 * 60;
constexpr std::int32_t kMinutesPerHour = 60;
constexpr std::uint8_t kEveryDay = 0x7F;
constexpr long kDaysPerWeek = 7;
// A reading the clock skips runs at the first minute it shows after the gap; no zone has
// skipped more than a day.
constexpr std::int32_t kLongestGapMinutes = kMinutesPerDay;
// A clock set forward by years must not stall a wake: what the displays show then is CatchUp's.
constexpr std::size_t kMaxDueRuns = 10000;

constexpr std::array<std::string_view, 7> kDayNames{"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// ---- Dates and wall-clock readings -------------------------------------------------------

struct Date {
  long year;
  int month; // 1 to 12
  int day;
};

// Days since 1970-01-01 in the proleptic Gregorian calendar, and back (H. Hinnant's algorithms).
long DayNumber(Date date) {
  const long year = date.year - (date.month <= 2 ? 1 : 0);
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153L * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

Date DateOf(long dayNumber) {
  const long z = dayNumber + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long dayOfEra = z - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long monthIndex = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  return Date{yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int WeekdayOf(long dayNumber) { // 0 Sunday, as tm_wday; 1970-01-01 was a Thursday
  return static_cast<int>(((dayNumber % kDaysPerWeek) + kDaysPerWeek + 4) % kDaysPerWeek);
}

long DayNumberOf(const std::tm& local) {
  return DayNumber(Date{local.tm_year + 1900L, local.tm_mon + 1, local.tm_mday});
}

std::time_t SecondsOf(TimePoint at) {
  return static_cast<std::time_t>(std::chrono::floor<std::chrono::seconds>(at.time_since_epoch()).count());
}

TimePoint TimePointOf(std::time_t time) { return TimePoint(std::chrono::seconds(time)); }

// The instant the clock shows `minute` (from midnight, may run into later days) on `dayNumber`,
// the first of two; none when the clock skips that minute.
std::optional<std::time_t> Reading(long dayNumber, std::int32_t minute) {
  const Date date = DateOf(dayNumber + minute / kMinutesPerDay);
  minute %= kMinutesPerDay;
  std::tm asked{};
  asked.tm_year = static_cast<int>(date.year - 1900);
  asked.tm_mon = date.month - 1;
  asked.tm_mday = date.day;
  asked.tm_hour = minute / kMinutesPerHour;
  asked.tm_min = minute % kMinutesPerHour;
  const auto shows = [&asked](std::time_t time) {
    const auto back = LocalTime(time);
    return back && back->tm_year == asked.tm_year && back->tm_mon == asked.tm_mon &&
           back->tm_mday == asked.tm_mday && back->tm_hour == asked.tm_hour && back->tm_min == asked.tm_min &&
           back->tm_sec == 0;
  };
  std::optional<std::time_t> first;
  for (const int summer : {1, 0, -1}) { // -1 only for a zone whose flags the first two miss
    if (summer == -1 && first) {
      break;
    }
    std::tm reading = asked;
    reading.tm_isdst = summer;
    const auto time = TimeOfLocal(reading);
    if (time && shows(*time) && (!first || *time < *first)) {
      first = time;
    }
  }
  return first;
}

// When a run at `minute` of `dayNumber` happens: at the reading, or after a gap at its end.
std::optional<TimePoint> RunAt(long dayNumber, std::int32_t minute) {
  for (std::int32_t later = 0; later <= kLongestGapMinutes; ++later) {
    if (const auto time = Reading(dayNumber, minute + later)) {
      return TimePointOf(*time);
    }
  }
  return std::nullopt;
}

// Calls `visit` with each of the entry's runs on `dayNumber` in order, from the one at or just
// before `fromMinute`, until it returns false. The runs of a day come in the order of their
// readings: a reading the clock shows twice counts at its first.
template <typename Visit>
void EachRun(const When& when, long dayNumber, std::int32_t fromMinute, Visit visit) {
  if ((when.days & (1U << WeekdayOf(dayNumber))) == 0) {
    return;
  }
  if (when.everyMinutes == 0) {
    if (const auto at = RunAt(dayNumber, when.minute)) {
      (void)visit(*at);
    }
    return;
  }
  for (std::int32_t minute = fromMinute / when.everyMinutes * when.everyMinutes; minute < kMinutesPerDay;
       minute += when.everyMinutes) {
    if (const auto at = RunAt(dayNumber, minute); at && !visit(*at)) {
      return;
    }
  }
}

// ---- Reading the file ----------------------------------------------------------------------

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower;
}

std::optional<int> DayIndex(std::string_view name) {
  const auto found = std::find(kDayNames.begin(), kDayNames.end(), Lower(name));
  if (found == kDayNames.end()) {
    return std::nullopt;
  }
  return static_cast<int>(found - kDayNames.begin());
}

// "mon-fri", "sat,sun", "mon,wed-fri"; a range may run over the weekend ("fri-mon").
std::optional<std::uint8_t> Days(std::string_view text) {
  std::uint8_t days = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const std::size_t dash = item.find('-');
    const auto first = DayIndex(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : DayIndex(item.substr(dash + 1));
    if (!first || !last) {
      return std::nullopt;
    }
    for (int day = *first;; day = (day + 1) % static_cast<int>(kDaysPerWeek)) {
      days = static_cast<std::uint8_t>(days | (1U << day));
      if (day == *last) {
        break;
      }
    }
    if (comma == std::string_view::npos) {
      return days;
    }
    text.remove_prefix(comma + 1);
  }
}

// "8:05" or "08:05", 00:00 to 23:59: minutes after midnight.
std::optional<std::int32_t> ClockTime(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() - colon != 3) {
    return std::nullopt;
  }
  const auto hour = WholeDecimal<std::int32_t>(text.substr(0, colon));
  const auto minute = WholeDecimal<std::int32_t>(text.substr(colon + 1));
  if (!hour || !minute || *hour < 0 || *hour > 23 || *minute < 0 || *minute >= kMinutesPerHour) {
    return std::nullopt;
  }
  return *hour * kMinutesPerHour + *minute;
}

// "15m" or "2h": the interval in minutes, at most a day.
std::optional<std::int32_t> Interval(std::string_view text) {
  if (text.size() < 2) {
    return std::nullopt;
  }
  const std::string unit = Lower(text.substr(text.size() - 1));
  const std::int32_t scale = unit == "m" ? 1 : unit == "h" ? kMinutesPerHour : 0;
  const auto count = WholeDecimal<std::int32_t>(text.substr(0, text.size() - 1));
  if (scale == 0 || !count || *count < 1 || *count > kMinutesPerDay / scale) {
    return std::nullopt;
  }
  return *count * scale;
}

constexpr const char* kWhenRule = "the time is \"daily HH:MM\", days and a time such as \"mon-fri 08:00\" or "
                                  "\"sat,sun 9:30\", or \"every 15m\" or \"every 2h\" (days first if any)";

// The time at the start of `words`, advancing `at` past it; an error otherwise.
std::optional<When> WhenOf(const std::vector<std::string>& words, std::size_t& at, std::string& error) {
  When when;
  const std::string first = Lower(words[at]);
  if (first != "every") {
    const auto days = first == "daily" ? std::optional<std::uint8_t>(kEveryDay) : Days(first);
    if (!days) {
      error = "\"" + words[at] +
              "\" is no day or days (mon, tue, wed, thu, fri, sat, sun, as in mon-fri or "
              "sat,sun): " +
              kWhenRule;
      return std::nullopt;
    }
    when.days = *days;
    ++at;
  }
  if (at == words.size()) {
    error = std::string("the line ends before the time: ") + kWhenRule;
    return std::nullopt;
  }
  if (Lower(words[at]) == "every") {
    const auto interval = at + 1 < words.size() ? Interval(words[at + 1]) : std::nullopt;
    if (!interval) {
      error = "every takes an interval of minutes or hours up to a day, such as 15m or 2h" +
              (at + 1 < words.size() ? ", not \"" + words[at + 1] + "\"" : std::string());
      return std::nullopt;
    }
    when.everyMinutes = *interval;
    at += 2;
    return when;
  }
  const auto minute = ClockTime(words[at]);
  if (!minute) {
    error = "\"" + words[at] + "\" is no time of day, 00:00 to 23:59: " + kWhenRule;
    return std::nullopt;
  }
  when.minute = *minute;
  ++at;
  return when;
}

std::optional<Target> TargetOf(const std::string& word, std::string& error) {
  if (word == "all") {
    return Target{TargetKind::All, {}};
  }
  if (word.starts_with("tag:")) {
    if (word.size() == 4) {
      error = "tag: needs the tag, as in tag:hall";
      return std::nullopt;
    }
    return Target{TargetKind::Tag, word.substr(4)};
  }
  return Target{TargetKind::Name, word};
}

// kv58's commands from `words`, by kv58's own parser, less what makes no sense unattended.
std::optional<std::vector<cli::Step>> StepsOf(const std::vector<std::string>& words,
                                              const std::filesystem::path& folder, std::string& error) {
  if (words.empty()) {
    error = "no commands: after the displays come kv58's commands, such as \"send offer.txt speed 4\"";
    return std::nullopt;
  }
  for (const std::string& word : words) {
    const bool option = word.size() > 1 && word[0] == '-' &&
                        (word[1] == '-' || std::isalpha(static_cast<unsigned char>(word[1])));
    if (option && word != "--template") {
      error = "\"" + word +
              "\": a schedule takes commands only (send, speed, lines, scroll, store, reset); the "
              "displays and their ports come from the ports file";
      return std::nullopt;
    }
  }
  const std::vector<std::string_view> args(words.begin(), words.end());
  cli::CommandLine parsed = cli::ParseCommandLine(args);
  if (parsed.action == cli::CommandLine::Action::Fail) {
    error = std::move(parsed.error);
    return std::nullopt;
  }
  if (parsed.request.listPorts) {
    error = "ports lists the machine's serial ports; a schedule takes commands for displays";
    return std::nullopt;
  }
  std::vector<cli::Step> steps = std::move(parsed.request.steps);
  for (cli::Step& step : steps) {
    if (step.kind == cli::Step::Kind::Monitor) {
      error = "monitor watches a display until stopped: a schedule's commands are sent and done";
      return std::nullopt;
    }
    if (step.kind != cli::Step::Kind::Send) {
      continue;
    }
    if (step.file == "-") {
      error = "send - reads standard input, which a schedule does not have: give a text file";
      return std::nullopt;
    }
    std::filesystem::path file(step.file);
    if (file.is_relative()) {
      file = folder / file;
    }
    std::istringstream noInput;
    if (cli::TextInput text = cli::ReadText(file.string(), noInput); !text.loaded) {
      error = std::move(text.error); // read again when due; a text that cannot be sent now is a fault now
      return std::nullopt;
    }
    step.file = file.string();
  }
  return steps;
}

std::optional<ScheduleEntry> EntryOf(const std::vector<std::string>& words,
                                     const std::filesystem::path& folder, std::string& error) {
  ScheduleEntry entry;
  std::size_t at = 0;
  auto when = WhenOf(words, at, error);
  if (!when) {
    return std::nullopt;
  }
  entry.when = *when;
  if (at == words.size()) {
    error = "no displays: after the time come the displays (all, tag:NAME or a display's name), then the "
            "commands";
    return std::nullopt;
  }
  auto target = TargetOf(words[at], error);
  if (!target) {
    return std::nullopt;
  }
  entry.target = std::move(*target);
  auto steps = StepsOf({words.begin() + static_cast<std::ptrdiff_t>(at) + 1, words.end()}, folder, error);
  if (!steps) {
    return std::nullopt;
  }
  entry.steps = std::move(*steps);
  return entry;
}

ScheduleLoad Refused(std::string error) { return ScheduleLoad{std::nullopt, std::move(error)}; }

} // namespace

ScheduleLoad ReadSchedule(const std::string& path) {
  std::string error;
  const auto text = cli::ReadListFile(path, "a schedule", kMaxScheduleFileBytes, error);
  if (!text) {
    return Refused(std::move(error));
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  Schedule schedule;
  std::istringstream lines(*text);
  std::size_t number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    const std::string where = path + ", line " + std::to_string(number);
    if (line.size() > kMaxScheduleLineBytes) {
      return Refused(where + ": longer than " + std::to_string(kMaxScheduleLineBytes) + " bytes");
    }
    const auto words = cli::Words(std::string_view(line).substr(0, line.find('#')));
    if (words.empty()) {
      continue;
    }
    auto entry = EntryOf(words, folder, error);
    if (!entry) {
      return Refused(where + ": " + error);
    }
    entry->line = number;
    entry->source = where;
    schedule.entries.push_back(std::move(*entry));
  }
  return ScheduleLoad{std::move(schedule), {}};
}

std::optional<TimePoint> NextRun(const ScheduleEntry& entry, TimePoint after) {
  const auto local = LocalTime(SecondsOf(after));
  if (!local) {
    return std::nullopt;
  }
  const long today = DayNumberOf(*local);
  const std::int32_t nowMinute = local->tm_hour * kMinutesPerHour + local->tm_min;
  // A week and a day: every entry runs within a week, and a gap may move a run into the next day.
  for (long day = today; day <= today + kDaysPerWeek + 1; ++day) {
    std::optional<TimePoint> next;
    EachRun(entry.when, day, day == today ? nowMinute : 0, [&](TimePoint at) {
      if (at > after) {
        next = at;
      }
      return !next;
    });
    if (next) {
      return next;
    }
  }
  return std::nullopt;
}

std::vector<DueEntry> DueBetween(const Schedule& schedule, TimePoint after, TimePoint upTo) {
  std::vector<DueEntry> due;
  for (const ScheduleEntry& entry : schedule.entries) {
    for (auto at = NextRun(entry, after); at && *at <= upTo && due.size() < kMaxDueRuns;
         at = NextRun(entry, *at)) {
      due.push_back(DueEntry{&entry, *at});
    }
  }
  std::stable_sort(due.begin(), due.end(), [](const DueEntry& a, const DueEntry& b) { return a.at < b.at; });
  return due;
}

std::optional<TimePoint> NextWake(const Schedule& schedule, TimePoint after) {
  std::optional<TimePoint> wake;
  for (const ScheduleEntry& entry : schedule.entries) {
    if (const auto at = NextRun(entry, after); at && (!wake || *at < *wake)) {
      wake = at;
    }
  }
  return wake;
}

std::optional<DueEntry> CatchUp(const Schedule& schedule, const std::function<bool(const Target&)>& matches,
                                TimePoint now) {
  const auto local = LocalTime(SecondsOf(now));
  if (!local) {
    return std::nullopt;
  }
  const long today = DayNumberOf(*local);
  std::optional<DueEntry> latest;
  for (const ScheduleEntry& entry : schedule.entries) {
    if (!matches(entry.target)) {
      continue;
    }
    std::optional<TimePoint> last;
    EachRun(entry.when, today, 0, [&](TimePoint at) {
      if (at <= now) {
        last = at;
      }
      return at <= now;
    });
    if (last && (!latest || *last >= latest->at)) { // entries come in line order: a tie goes to the later
      latest = DueEntry{&entry, *last};
    }
  }
  return latest;
}

} // namespace kv58::serve
