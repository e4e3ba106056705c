#include "lang/display_text.h"

#include <gtest/gtest.h>

#include <string>

#include "lang/utf8.h"

namespace kv58 {
namespace {

using namespace std::string_view_literals;

struct DecodeCase {
  const char* label;
  std::string_view bytes;
  std::string_view utf8;
};

// A file judged UTF-8 keeps its bytes; one judged 8-bit is read as Windows-1250.
class Utf8FileTest : public ::testing::TestWithParam<DecodeCase> {};
class AnsiFileTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8FileTest, KeepsTheBytes) {
  EXPECT_EQ(DecodeForDisplay(GetParam().bytes, TextEncoding::Utf8), GetParam().utf8);
}

TEST_P(AnsiFileTest, ReadsEachByteAsAWindows1250Letter) {
  EXPECT_EQ(DecodeForDisplay(GetParam().bytes, TextEncoding::Ansi), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Utf8KeptAsItIs, Utf8FileTest,
                         ::testing::Values(DecodeCase{"Empty", "", ""}, DecodeCase{"Ascii", "SAVE", "SAVE"},
                                           DecodeCase{"Polish",
                                                      "Po\xC5\x82\xC4\x85"
                                                      "cz",
                                                      "Po\xC5\x82\xC4\x85"
                                                      "cz"},
                                           DecodeCase{"ByteOrderMarkKept", "\xEF\xBB\xBFPolski",
                                                      "\xEF\xBB\xBFPolski"},
                                           DecodeCase{"NulKept", "a\0b"sv, "a\0b"sv}),
                         [](const auto& row) { return std::string(row.param.label); });

// The same words as Windows-1250 bytes read as the same letters.
INSTANTIATE_TEST_SUITE_P(
    Cp1250Decoded, AnsiFileTest,
    ::testing::Values(DecodeCase{"Connect",
                                 "Po\xB3\xB9"
                                 "cz",
                                 "Po\xC5\x82\xC4\x85"
                                 "cz"},
                      DecodeCase{"Language", "J\xEAzyk", "J\xC4\x99zyk"},
                      DecodeCase{"CapitalLetters", "\xAF\xD3\xA3\xC6", "\xC5\xBB\xC3\x93\xC5\x81\xC4\x86"},
                      DecodeCase{"SendText", "Wy\x9Clij tekst", "Wy\xC5\x9Blij tekst"},
                      DecodeCase{"EuroSign", "5 \x80", "5 \xE2\x82\xAC"},
                      DecodeCase{"NulInTheMiddle", "\xB3\0\xB9"sv, "\xC5\x82\0\xC4\x85"sv},
                      // Valid UTF-8 (U+028F) as bytes, but a Windows-1250 word in an 8-bit file.
                      DecodeCase{"WordThatLooksLikeUtf8", "WI\xCA\x8F", "WI\xC4\x98\xC5\xB9"}),
    [](const auto& row) { return std::string(row.param.label); });

// UTF-8 sequences inside an 8-bit file are read byte by byte, not as UTF-8 in parts.
INSTANTIATE_TEST_SUITE_P(
    Utf8LookalikesInAnsiFile, AnsiFileTest,
    ::testing::Values(DecodeCase{"OverlongSlash", "\xC0\xAF", "\xC5\x94\xC5\xBB"},
                      DecodeCase{"Surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
                      DecodeCase{"CutShort", "\xC5\x82\xC4", "\xC4\xB9\xE2\x80\x9A\xC3\x84"},
                      DecodeCase{"MixedWithValidUtf8", "\xC5\x82 \xB3", "\xC4\xB9\xE2\x80\x9A \xC5\x82"}),
    [](const auto& row) { return std::string(row.param.label); });

// 81, 83, 88, 90 and 98 hex mean nothing in Windows-1250: each shows as U+FFFD and the text goes on.
INSTANTIATE_TEST_SUITE_P(
    UndefinedBytesReplaced, AnsiFileTest,
    ::testing::Values(DecodeCase{"Byte81", "a\x81\xB3", "a\xEF\xBF\xBD\xC5\x82"},
                      DecodeCase{"AllFive", "\x81\x83\x88\x90\x98",
                                 "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      DecodeCase{"AtTheEnd",
                                 "Po\xB3\xB9"
                                 "cz\x98",
                                 "Po\xC5\x82\xC4\x85"
                                 "cz\xEF\xBF\xBD"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(DecodeForDisplay, EveryByteValueGivesValidUtf8) {
  std::string every;
  for (int byte = 0; byte < 256; ++byte) {
    every.push_back(static_cast<char>(byte));
  }
  const auto text = DecodeForDisplay(every, TextEncoding::Ansi);
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_EQ(text.substr(0, 128), every.substr(0, 128)) << "ASCII passes unchanged";
}

} // namespace
} // namespace kv58
