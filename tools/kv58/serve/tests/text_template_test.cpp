// Texts whose date and time are filled in when they are sent: what each field gives, what is
// left as written, and what is refused with the field named.

#include <array>
#include <ctime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

#include "tools/kv58/serve/text_template.h"

namespace kv58::serve {
namespace {

using ::testing::HasSubstr;

// Sunday 29 March 2026, 08:05:09, as the C library fills it in.
std::tm SundayMorning() {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 29;
  local.tm_hour = 8;
  local.tm_min = 5;
  local.tm_sec = 9;
  local.tm_wday = 0;
  local.tm_yday = 87;
  return local;
}

struct FilledCase {
  const char* label;
  std::string text;
  std::string sent;
};

void PrintTo(const FilledCase& row, std::ostream* os) { *os << row.label; }

class TemplateFillTest : public ::testing::TestWithParam<FilledCase> {};

TEST_P(TemplateFillTest, FillsInTheFieldsAndLeavesTheRestAsWritten) {
  const ExpandedText expanded = ExpandTemplate(GetParam().text, SundayMorning());
  ASSERT_TRUE(expanded.text) << expanded.error;
  EXPECT_EQ(*expanded.text, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Fields, TemplateFillTest,
                         ::testing::Values(FilledCase{"Defaults", "Today {date} {time}, {weekday}",
                                                      "Today 2026-03-29 08:05, Sunday"},
                                           FilledCase{"Formats", "{date:%d.%m.%Y} {time:%H.%M.%S} {time:%I}",
                                                      "29.03.2026 08.05.09 08"},
                                           FilledCase{"Composites", "{date:%F %D} {time:%T %R} {date:100%%}",
                                                      "2026-03-29 03/29/26 08:05:09 08:05 100%"},
                                           FilledCase{"DoubleBraceIsABrace", "{{date} {{{time}",
                                                      "{date} {08:05"},
                                           FilledCase{"OtherBracesStay", "{name} } {dates} {time {weekday {}",
                                                      "{name} } {dates} {time {weekday {}"},
                                           FilledCase{"FilledToTheLimit", std::string(1973, 'x') + "{date}",
                                                      std::string(1973, 'x') + "2026-03-29"}),
                         [](const auto& row) { return std::string(row.param.label); });

struct RefusedCase {
  const char* label;
  std::string text;
  const char* says;
};

void PrintTo(const RefusedCase& row, std::ostream* os) { *os << row.label; }

class TemplateRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(TemplateRefusalTest, IsRefusedNamingTheField) {
  const ExpandedText expanded = ExpandTemplate(GetParam().text, SundayMorning());
  EXPECT_FALSE(expanded.text);
  EXPECT_THAT(expanded.error, HasSubstr(GetParam().says));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TemplateRefusalTest,
    ::testing::Values(RefusedCase{"DayName", "Open {date:%A}", "{date:%A}: %A is not a field of digits"},
                      RefusedCase{"LocaleLayout", "{date:%x}", "%x is not a field of digits"},
                      RefusedCase{"Unclosed", "at {time:%H\n%M",
                                  "{time:%H\\x0a%M at offset 3 has no closing }"},
                      RefusedCase{"EmptyFormat", "{date:}", "{date:} at offset 0 has no format"},
                      RefusedCase{"LonePercent", "{date:%d%}", "ends in a lone %"},
                      RefusedCase{"LongerThanTheDisplayTakes", std::string(1980, 'x') + "{date}",
                                  "holds 1990 bytes once its fields are filled in; the display takes at most "
                                  "1983 bytes"}),
    [](const auto& row) { return std::string(row.param.label); });

#if !defined(_WIN32)
// Every day of eleven years against the C library's own strftime, whose number fields do not
// depend on the locale: week numbers and ISO years at every turn of a year.
TEST(TemplateFieldsTest, EveryNumberFieldMatchesTheCLibraryOnEveryDayOfElevenYears) {
#define KV58_NUMBER_FIELDS "%d %e %m %Y %y %C %H %I %M %S %j %u %w %U %W %G %g %V %F %T %R %D %%"
  constexpr std::time_t kDay = 24 * 60 * 60;
  constexpr std::time_t kFrom = 1577836800; // 2020-01-01 00:00 UTC
  for (std::time_t time = kFrom + 13 * 3600 + 7; time < kFrom + 4018 * kDay; time += kDay) {
    std::tm day{};
    ASSERT_NE(gmtime_r(&time, &day), nullptr);
    std::array<char, 128> expected{};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k" // two-digit years are among the fields compared
    ASSERT_GT(std::strftime(expected.data(), expected.size(), KV58_NUMBER_FIELDS, &day), 0u);
#pragma GCC diagnostic pop
    const ExpandedText expanded = ExpandTemplate("{date:" KV58_NUMBER_FIELDS "}", day);
    ASSERT_TRUE(expanded.text) << expanded.error;
    ASSERT_EQ(*expanded.text, expected.data());
  }
}
#endif

} // namespace
} // namespace kv58::serve
