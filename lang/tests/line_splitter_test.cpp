#include "lang/line_splitter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv58 {
namespace {

using ::testing::ElementsAreArray;
using Lines = std::vector<std::string>;

// Splits `text` fed in pieces of `pieceBytes`, finishing at the end of the text.
Lines Split(std::string_view text, std::size_t pieceBytes) {
  Lines lines;
  LineSplitter splitter([&lines](std::string_view line) { lines.emplace_back(line); });
  for (std::size_t at = 0; at < text.size(); at += pieceBytes) {
    if (!splitter.Feed(text.substr(at, pieceBytes))) {
      break;
    }
  }
  splitter.Finish();
  return lines;
}

struct SplitCase {
  const char* label;
  std::string_view text;
  Lines lines;
};

class LineSplitterTest : public ::testing::TestWithParam<SplitCase> {};

// Every piece size from one byte up to the whole text gives the same lines, so no line end,
// CR LF pair or NUL is misread when it falls across a chunk boundary.
TEST_P(LineSplitterTest, GivesTheSameLinesWhateverTheChunkSize) {
  const auto& c = GetParam();
  for (std::size_t piece = 1; piece <= std::max<std::size_t>(c.text.size(), 1); ++piece) {
    EXPECT_THAT(Split(c.text, piece), ElementsAreArray(c.lines)) << "pieces of " << piece;
  }
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    LineEnds, LineSplitterTest,
    ::testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
                      SplitCase{"LfOnly", "a\nb\n", {"a", "b"}}, SplitCase{"CrOnly", "a\rb\r", {"a", "b"}},
                      SplitCase{"LastLineWithoutEnd", "a\r\nb", {"a", "b"}},
                      SplitCase{"LfCrEndsALineThenAnEmptyOne", "a\n\rb", {"a", "", "b"}},
                      SplitCase{"CrCrLfIsTwoLineEnds", "a\r\r\nb", {"a", "", "b"}},
                      SplitCase{"LfLfIsTwoLineEnds", "a\n\n", {"a", ""}},
                      SplitCase{"LineEndAloneIsOneEmptyLine", "\r\n", {""}},
                      SplitCase{"TextOfLineEndsOnly", "\n\r\n\r", {"", "", ""}},
                      SplitCase{"NulEndsEverything", "a\r\nb\0c\r\nd"sv, {"a", "b"}},
                      SplitCase{"NulRightAfterLineEnd", "a\r\n\0b"sv, {"a"}},
                      SplitCase{"NulFirst", "\0a\r\n"sv, {}},
                      SplitCase{"NulBetweenCrAndLf", "a\r\0\nb"sv, {"a"}},
                      SplitCase{"OtherControlBytesStay", "a\tb\x01\xff\r\n", {"a\tb\x01\xff"}},
                      // Long lines are searched eight bytes at a time: line ends at every
                      // place in a word, next to bytes that differ from CR or LF in one bit.
                      SplitCase{"LongLines",
                                "1234567\r\n12345678\n123456789\r\x8D\x8A\x80\x0C\x0E\x0B\x09"
                                "abcdefgh\r\n"
                                "1234567890123456"sv,
                                {"1234567", "12345678", "123456789",
                                 "\x8D\x8A\x80\x0C\x0E\x0B\x09"
                                 "abcdefgh",
                                 "1234567890123456"}},
                      SplitCase{"NulInALongLine", "123456789abc\0def\r\n"sv, {"123456789abc"}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(LineSplitter, FeedReportsTheEndAfterANulAndIgnoresLaterChunks) {
  Lines lines;
  LineSplitter splitter([&lines](std::string_view line) { lines.emplace_back(line); });
  EXPECT_TRUE(splitter.Feed("a\r"));
  EXPECT_FALSE(splitter.Feed("\nb\0c"sv));
  EXPECT_FALSE(splitter.Feed("d\r\n"));
  splitter.Finish();
  EXPECT_THAT(lines, ElementsAreArray(Lines{"a", "b"}));
}

TEST(LineSplitter, HandsOnALineAsSoonAsItsEndArrives) {
  Lines lines;
  LineSplitter splitter([&lines](std::string_view line) { lines.emplace_back(line); });
  ASSERT_TRUE(splitter.Feed("first\r"));
  EXPECT_THAT(lines, ElementsAreArray(Lines{"first"})) << "a CR ends the line before the LF is seen";
  ASSERT_TRUE(splitter.Feed("\nsecond"));
  EXPECT_EQ(lines.size(), 1u) << "a line without its end is held back";
  splitter.Finish();
  EXPECT_THAT(lines, ElementsAreArray(Lines{"first", "second"}));
}

} // namespace
} // namespace kv58
