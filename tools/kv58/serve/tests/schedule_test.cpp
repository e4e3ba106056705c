// Schedule files as serve reads them, and when their entries run in a zone with summer time
// (Central European: +1, +2 from the last Sunday of March to the last Sunday of October).

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "common/testing/scratch_dir.h"
#include "tools/kv58/serve/schedule.h"

namespace kv58::serve {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono;

// The machine's zone for one test. Central European rules written out, so the tests need no
// time-zone database; they are Europe/Warsaw's in 2026 (29 March 02:00 -> 03:00, 25 October
// 03:00 -> 02:00). Windows's C library takes no summer-time rules from TZ (only the system's
// zone has them), so there the zone is winter time all year and the changes are not tested.
#if defined(_WIN32)
constexpr bool kZoneChangesClock = false;
constexpr const char* kZone = "CET-1";
void SetZone(const char* zone) { (void)_putenv_s("TZ", zone != nullptr ? zone : ""); }
#else
constexpr bool kZoneChangesClock = true;
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";
void SetZone(const char* zone) { (void)(zone != nullptr ? setenv("TZ", zone, 1) : unsetenv("TZ")); }
#endif

// A moment in UTC: "2026-03-29 01:00".
TimePoint Utc(const std::string& text) {
  const auto number = [&text](std::size_t at, std::size_t length) {
    return std::stoi(text.substr(at, length));
  };
  const sys_days day = year{number(0, 4)} / number(5, 2) / number(8, 2);
  return TimePoint(day + hours{number(11, 2)} + minutes{number(14, 2)});
}

std::string UtcText(std::optional<TimePoint> at) {
  if (!at) {
    return "never";
  }
  const auto day = floor<days>(*at);
  const year_month_day date{day};
  const hh_mm_ss time{floor<minutes>(*at - day)};
  std::array<char, 32> text{};
  (void)std::snprintf(text.data(), text.size(), "%04d-%02u-%02u %02ld:%02ld", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()));
  return text.data();
}

class ScheduleTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) {
      savedZone_ = zone;
    }
    SetZone(kZone);
    tzset();
  }
  void TearDown() override {
    SetZone(savedZone_ ? savedZone_->c_str() : nullptr);
    tzset();
  }
  ScheduleLoad Load(const std::string& text) {
    return ReadSchedule(folder.Write("schedule.txt", text).string());
  }

  kv58::testing::ScratchDir folder;

private:
  std::optional<std::string> savedZone_;
};

TEST_F(ScheduleTest, ReadsEachPartOfAnEntry) {
  (void)folder.Write("closing.txt", "Closing at 18:00");
  std::filesystem::create_directory(folder / "offers");
  (void)folder.Write("offers/morning.txt", "Good morning");
  const auto queue = folder.Write("queue.txt", "Now serving {time}");
  const ScheduleLoad load = Load("# when  displays  what\n"
                                 "mon-fri 08:00   tag:hall   send offers/morning.txt\r\n"
                                 "\n"
                                 "daily 18:00     all        send closing.txt speed 4  # and slower\n"
                                 "Sat,sun 9:30    hall-1     lines 3 9 scroll none store reset\n"
                                 "every 15m       tag:queue  send --template " +
                                 queue.string() + "\nmon-fri every 2h  all  speed 1\n");
  ASSERT_TRUE(load.schedule) << load.error;
  std::vector<std::string> read;
  for (const ScheduleEntry& entry : load.schedule->entries) {
    const char* kinds[] = {"all", "tag:", "name:"};
    std::string text = entry.source.substr(entry.source.rfind(',') + 2) + ": days " +
                       std::to_string(entry.when.days) + " at " + std::to_string(entry.when.minute) +
                       " every " + std::to_string(entry.when.everyMinutes) + ", " +
                       kinds[static_cast<int>(entry.target.kind)] + entry.target.name + ", " +
                       std::to_string(entry.steps.size()) + " steps";
    const cli::Step& step = entry.steps.front();
    if (step.kind == cli::Step::Kind::Send) {
      text += ", send " + std::filesystem::relative(step.file, folder.Path()).generic_string() +
              (step.templated ? " filled in" : "");
    }
    read.push_back(text);
  }
  EXPECT_EQ(read, (std::vector<std::string>{
                      "line 2: days 62 at 480 every 0, tag:hall, 1 steps, send offers/morning.txt",
                      "line 4: days 127 at 1080 every 0, all, 2 steps, send closing.txt",
                      "line 5: days 65 at 570 every 0, name:hall-1, 4 steps",
                      "line 6: days 127 at 0 every 15, tag:queue, 1 steps, send queue.txt filled in",
                      "line 7: days 62 at 0 every 120, all, 1 steps"}));
  EXPECT_EQ(load.schedule->entries.front().source, (folder / "schedule.txt").string() + ", line 2");
  EXPECT_TRUE(std::filesystem::path(load.schedule->entries.front().steps.front().file).is_absolute())
      << "a text's path is taken from the schedule's folder";
}

struct RefusedLine {
  const char* label;
  std::string line;
  const char* says;
};

void PrintTo(const RefusedLine& row, std::ostream* os) { *os << row.label; }

class ScheduleRefusalTest : public ScheduleTest, public ::testing::WithParamInterface<RefusedLine> {};

TEST_P(ScheduleRefusalTest, IsRefusedWholeWithTheLineAndWhy) {
  std::filesystem::create_directory(folder / "texts");
  (void)folder.Write("ok.txt", "ok");
  const ScheduleLoad load =
      Load("# when displays what\ndaily 07:00 all send ok.txt\n" + GetParam().line + "\n");
  EXPECT_FALSE(load.schedule);
  EXPECT_THAT(load.error, StartsWith((folder / "schedule.txt").string() + ", line 3: "));
  EXPECT_THAT(load.error, HasSubstr(GetParam().says));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScheduleRefusalTest,
    ::testing::Values(RefusedLine{"NoTime", "hall-1 send ok.txt", "\"hall-1\" is no day or days"},
                      RefusedLine{"HourPastTheDay", "daily 24:00 all store", "\"24:00\" is no time of day"},
                      RefusedLine{"IntervalPastADay", "every 25h all store", "not \"25h\""},
                      RefusedLine{"NoDisplays", "daily 08:00", "no displays"},
                      RefusedLine{"PortOption", "daily 08:00 all --port COM5 store",
                                  "\"--port\": a schedule takes commands only"},
                      RefusedLine{"Monitor", "daily 08:00 all monitor",
                                  "monitor watches a display until stopped"},
                      RefusedLine{"StandardInput", "daily 08:00 all send -", "send - reads standard input"},
                      RefusedLine{"MissingText", "daily 08:00 all send gone.txt", "gone.txt: no such file"},
                      RefusedLine{"FolderAsText", "daily 08:00 all send texts", "texts: it is a directory"},
                      RefusedLine{"LongLine", "daily 08:00 all store #" + std::string(5000, 'x'),
                                  "longer than 4096 bytes"}),
    [](const auto& row) { return std::string(row.param.label); });

struct RunCase {
  const char* label;
  const char* when;
  const char* after; // UTC
  const char* next;  // UTC
  bool overAChange = false;
};

void PrintTo(const RunCase& row, std::ostream* os) { *os << row.label; }

class NextRunTest : public ScheduleTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(NextRunTest, IsTheFirstRunStrictlyAfter) {
  if (GetParam().overAChange && !kZoneChangesClock) {
    GTEST_SKIP() << "the C library here takes no summer-time rules from TZ";
  }
  const ScheduleLoad load = Load(std::string(GetParam().when) + " all store\n");
  ASSERT_TRUE(load.schedule) << load.error;
  EXPECT_EQ(UtcText(NextRun(load.schedule->entries.front(), Utc(GetParam().after))), GetParam().next);
}

// 2026-03-09 is a Monday; winter time is UTC+1, summer time UTC+2.
INSTANTIATE_TEST_SUITE_P(
    Entries, NextRunTest,
    ::testing::Values(
        RunCase{"FridayRunThenMonday", "mon-fri 08:00", "2026-03-13 07:00", "2026-03-16 07:00"},
        RunCase{"WeekendFromMonday", "sat,sun 09:30", "2026-03-09 12:00", "2026-03-14 08:30"},
        RunCase{"RangeOverTheWeekend", "fri-mon 07:00", "2026-03-10 00:00", "2026-03-13 06:00"},
        RunCase{"SkippedInSpringRunsAtTheGapsEnd", "daily 02:30", "2026-03-28 23:00", "2026-03-29 01:00",
                true},
        RunCase{"AfterTheSpringChange", "daily 02:30", "2026-03-29 01:00", "2026-03-30 00:30", true},
        RunCase{"TwiceInAutumnRunsAtTheFirst", "daily 02:30", "2026-10-24 22:00", "2026-10-25 00:30", true},
        RunCase{"NotAgainAtTheSecond", "daily 02:30", "2026-10-25 00:30", "2026-10-26 01:30", true},
        RunCase{"EveryQuarterHour", "every 15m", "2026-03-09 07:07", "2026-03-09 07:15"},
        RunCase{"EveryQuarterHourOverTheGap", "every 15m", "2026-03-29 00:50", "2026-03-29 01:00", true},
        RunCase{"EveryQuarterHourAfterTheGap", "every 15m", "2026-03-29 01:00", "2026-03-29 01:15", true},
        RunCase{"RepeatedHourRunsOnce", "every 30m", "2026-10-25 00:30", "2026-10-25 02:00", true},
        RunCase{"IntervalRestartsAtMidnight", "every 7h", "2026-03-09 20:30", "2026-03-09 23:00"},
        RunCase{"IntervalOnWeekdaysOnly", "mon-fri every 2h", "2026-03-13 22:30", "2026-03-15 23:00"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(ScheduleTest, DueRunsComeInOrderOfTimeThenLine) {
  const ScheduleLoad load =
      Load("every 30m all store\ndaily 08:00 tag:hall speed 4\ndaily 08:00 hall-1 reset\n");
  ASSERT_TRUE(load.schedule) << load.error;
  // 07:30 to 08:30 local on Monday 9 March: the run at 07:30 is not in it, the one at 08:30 is.
  std::string due;
  for (const DueEntry& run : DueBetween(*load.schedule, Utc("2026-03-09 06:30"), Utc("2026-03-09 07:30"))) {
    due += std::to_string(run.entry->line) + "@" + UtcText(run.at).substr(11) + " ";
  }
  EXPECT_EQ(due, "1@07:00 2@07:00 3@07:00 1@07:30 ");
  EXPECT_EQ(UtcText(NextWake(*load.schedule, Utc("2026-03-09 07:10"))), "2026-03-09 07:30");
}

struct CatchUpCase {
  const char* label;
  const char* now; // UTC
  const char* tag; // the display's, which also takes "all" when withAll
  bool withAll;
  std::size_t line; // 0: none
};

void PrintTo(const CatchUpCase& row, std::ostream* os) { *os << row.label; }

class CatchUpTest : public ScheduleTest, public ::testing::WithParamInterface<CatchUpCase> {};

TEST_P(CatchUpTest, PicksTheLatestRunOfTodaySoFar) {
  const ScheduleLoad load = Load("mon-fri 08:00 tag:hall store\n"
                                 "daily 12:00 tag:hall speed 4\n"
                                 "daily 08:00 all reset\n"
                                 "every 15m tag:queue speed 1\n");
  ASSERT_TRUE(load.schedule) << load.error;
  const auto matches = [&row = GetParam()](const Target& target) {
    return target.kind == TargetKind::Tag ? target.name == row.tag
                                          : row.withAll && target.kind == TargetKind::All;
  };
  const auto picked = CatchUp(*load.schedule, matches, Utc(GetParam().now));
  EXPECT_EQ(picked ? picked->entry->line : 0u, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Mornings, CatchUpTest,
    ::testing::Values(CatchUpCase{"SwitchedOnAfterTheMorningRun", "2026-03-09 08:10", "hall", false, 1},
                      CatchUpCase{"ATieGoesToTheLaterLine", "2026-03-09 08:10", "hall", true, 3},
                      CatchUpCase{"ARunAtNowCounts", "2026-03-09 11:00", "hall", false, 2},
                      CatchUpCase{"BeforeTheFirstRunOfTheDay", "2026-03-09 06:59", "hall", false, 0},
                      CatchUpCase{"YesterdaysRunsDoNotCount", "2026-03-14 08:10", "hall", false, 0},
                      CatchUpCase{"TheLatestOfAnInterval", "2026-03-09 08:14", "queue", true, 4}),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
} // namespace kv58::serve
