#include "lang/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace kv58 {
namespace {

using namespace std::string_view_literals;

struct Utf8Case {
  const char* label;
  std::string_view bytes;
  bool valid;
};

class IsValidUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(IsValidUtf8Test, JudgesTheBytes) { EXPECT_EQ(IsValidUtf8(GetParam().bytes), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(WellFormed, IsValidUtf8Test,
                         ::testing::Values(Utf8Case{"Empty", "", true},
                                           Utf8Case{"Ascii", "SAVE\t#\r\n", true},
                                           Utf8Case{"NulIsAscii", "a\0b"sv, true},
                                           Utf8Case{"PolishLetters",
                                                    "Po\xC5\x82\xC4\x85"
                                                    "cz",
                                                    true},
                                           Utf8Case{"LowestTwoByte", "\xC2\x80", true},
                                           Utf8Case{"LowestThreeByte", "\xE0\xA0\x80", true},
                                           Utf8Case{"LastBeforeSurrogates", "\xED\x9F\xBF", true},
                                           Utf8Case{"FirstAfterSurrogates", "\xEE\x80\x80", true},
                                           Utf8Case{"ByteOrderMark", "\xEF\xBB\xBF", true},
                                           Utf8Case{"LowestFourByte", "\xF0\x90\x80\x80", true},
                                           Utf8Case{"HighestCodePoint", "\xF4\x8F\xBF\xBF", true},
                                           Utf8Case{"LongAsciiAroundLetters",
                                                    "12345678\xC5\x82"
                                                    "1234567890123456\xC4\x85",
                                                    true}),
                         [](const auto& row) { return std::string(row.param.label); });

INSTANTIATE_TEST_SUITE_P(
    IllFormed, IsValidUtf8Test,
    ::testing::Values(
        Utf8Case{"LoneContinuation", "\x80", false}, Utf8Case{"OverlongTwoByteC0", "\xC0\xAF", false},
        Utf8Case{"OverlongTwoByteC1", "\xC1\xBF", false},
        Utf8Case{"OverlongThreeByte", "\xE0\x9F\xBF", false},
        Utf8Case{"OverlongFourByte", "\xF0\x8F\xBF\xBF", false},
        Utf8Case{"SurrogateHigh", "\xED\xA0\x80", false}, Utf8Case{"SurrogateLow", "\xED\xBF\xBF", false},
        Utf8Case{"AboveTheLastCodePoint", "\xF4\x90\x80\x80", false},
        Utf8Case{"LeadF5", "\xF5\x80\x80\x80", false}, Utf8Case{"LeadFF", "\xFF", false},
        Utf8Case{"CutShortAtTheEnd", "ab\xC5", false}, Utf8Case{"CutShortThreeByte", "\xE2\x82", false},
        Utf8Case{"AsciiInsteadOfContinuation",
                 "\xC5"
                 "a",
                 false},
        Utf8Case{"BadThirdByte",
                 "\xE2\x82"
                 "a",
                 false},
        Utf8Case{"BadFourthByte",
                 "\xF0\x90\x80"
                 "a",
                 false},
        Utf8Case{"Cp1250LetterAfterLongAscii", "123456789abcdefg\xB3", false},
        Utf8Case{"Cp1250LetterInsideAWord", "1234567890\xB9xyzw", false},
        Utf8Case{"Cp1250PolishLetters",
                 "Po\xB3\xB9"
                 "cz",
                 false}),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
} // namespace kv58
