#include "protocol/text_upload.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/tests/protocol_test_support.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ScriptedWriteDriver;

const std::string kNotConnected = "Port nie połączony";

std::string EndLine(const std::string& size) { return "Wysłano tekst do urządzenia " + size + " znaków"; }

// Every byte value but 00 in turn, so that 0x01, 0xFF, CR and LF all travel inside the pages.
std::string TextOf(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    text[i] = static_cast<char>(1 + i % 255);
  }
  return text;
}

class TextUploadTest : public testing::OpenPortTest<> {
protected:
  void Upload(const std::string& text) { UploadText(port, text, driver.RecordingPause(), log); }
};

struct SizeCase {
  const char* label;
  std::size_t size;
  std::vector<std::uint32_t> pages;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const SizeCase& row, std::ostream* out) { *out << row.label; }

class UploadSizeTest : public TextUploadTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(UploadSizeTest, FrameThenPagesEachFollowedByAPauseThenTerminator) {
  const auto& c = GetParam();
  const std::string text = TextOf(c.size);

  Upload(text);

  std::vector<std::string> events{"W1", "W1"};
  for (const auto page : c.pages) {
    events.push_back("W" + std::to_string(page));
    events.push_back("D"); // the pause counts from when the page has left
    events.push_back("P1000");
  }
  events.push_back("W1");
  EXPECT_THAT(driver.WritesAndPauses(), ElementsAreArray(events));
  EXPECT_EQ(driver.sent, "\xFF\x07" + text + std::string(1, '\0')) << "bytes go out raw and in order";
}

TEST_P(UploadSizeTest, LogsEveryPageFromZeroThenTheSize) {
  const auto& c = GetParam();

  Upload(TextOf(c.size));

  std::vector<std::string> lines{""};
  for (std::size_t page = 0; page < c.pages.size(); ++page) {
    lines.push_back("wysłano stronę" + std::to_string(page));
  }
  lines.push_back(EndLine(std::to_string(c.size)));
  EXPECT_THAT(log.Lines(), ElementsAreArray(lines));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UploadSizeTest,
    ::testing::Values(SizeCase{"Empty", 0, {}}, SizeCase{"OneByte", 1, {1}}, SizeCase{"OnePage", 256, {256}},
                      SizeCase{"OnePageAndOneByte", 257, {256, 1}}, SizeCase{"TwoPages", 512, {256, 256}},
                      SizeCase{"Longest", 1983, {256, 256, 256, 256, 256, 256, 256, 191}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(TextUploadTest, ClosedPortStillPausesAfterEveryPageAndLogsEachFailure) {
  ASSERT_TRUE(port.Close());
  driver.ClearRecord();

  Upload(TextOf(600));

  EXPECT_THAT(driver.CallNames(), ElementsAre("Pause", "Pause", "Pause")) << "no byte reaches the line";
  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("P1000", "P1000", "P1000"));
  EXPECT_THAT(log.Lines(), ElementsAre("", kNotConnected, kNotConnected, kNotConnected, kNotConnected));
}

TEST_F(TextUploadTest, ClosedPortWithEmptyTextLogsOnlyTheFailedEnd) {
  ASSERT_TRUE(port.Close());
  driver.ClearRecord();
  Upload("");
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_THAT(log.Lines(), ElementsAre("", kNotConnected));
}

TEST_F(TextUploadTest, PageTakenInPartIsReportedFailedAndTheNextPageStartsAFullPageOn) {
  const std::string text = TextOf(300);
  driver.shortWrites[2] = 100; // page 0: the port takes 100 of its 256 bytes

  Upload(text);

  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W256", "P1000", "W44", "D", "P1000", "W1"));
  EXPECT_EQ(driver.writes[3], text.substr(256)) << "no page is resent or shortened";
  EXPECT_THAT(log.Lines(), ElementsAre("", kNotConnected, "wysłano stronę1", EndLine("300")));
}

TEST_F(TextUploadTest, FailedPageInTheMiddleDoesNotStopTheUpload) {
  const std::string text = TextOf(700);
  driver.failingWrites.insert(3); // page 1

  Upload(text);

  EXPECT_THAT(driver.WritesAndPauses(),
              ElementsAre("W1", "W1", "W256", "D", "P1000", "W256", "P1000", "W188", "D", "P1000", "W1"));
  EXPECT_EQ(driver.writes[3], text.substr(512));
  EXPECT_THAT(log.Lines(),
              ElementsAre("", "wysłano stronę0", kNotConnected, "wysłano stronę2", EndLine("700")));
}

TEST_F(TextUploadTest, FailedTerminatorEndsWithPortNotConnected) {
  driver.failingWrites.insert(3); // frame (2), one page, then the terminator
  Upload(TextOf(10));
  EXPECT_THAT(log.Lines(), ElementsAre("", "wysłano stronę0", kNotConnected));
}

TEST_F(TextUploadTest, FailedTextFrameIsNeitherJudgedNorLogged) {
  driver.failingWrites = {0, 1};
  Upload(TextOf(10));
  EXPECT_THAT(log.Lines(), ElementsAre("", "wysłano stronę0", EndLine("10")));
  EXPECT_EQ(driver.CountOf("WriteFile"), 4u);
}

TEST_F(TextUploadTest, ObserverHearsOfEachPageBeforeItsPauseAndTheResultSaysWhetherAllWentOut) {
  std::vector<std::string> heard;
  const auto observe = [&](const PageOutcome& outcome) {
    heard.push_back(std::to_string(outcome.page) + "/" + std::to_string(outcome.pageCount) +
                    (outcome.sent ? " sent" : " lost") + " after " + std::to_string(driver.calls.size()));
    return AfterPage::Continue;
  };
  driver.failingWrites.insert(3); // page 1

  const UploadResult broken = UploadText(port, TextOf(600), driver.RecordingPause(), log, observe);
  EXPECT_FALSE(broken.Complete());
  EXPECT_EQ(broken.leadingPagesSent, 1u) << "the pages after a lost one no longer line up";
  EXPECT_TRUE(broken.terminatorSent);
  EXPECT_THAT(heard, ElementsAre("0/3 sent after 4", "1/3 lost after 6", "2/3 sent after 9"));
  EXPECT_TRUE(UploadText(port, TextOf(600), driver.RecordingPause(), log, observe).Complete()) << "all taken";
}

TEST_F(TextUploadTest, ObserverThatAbandonsEndsTheUploadWithoutPauseOrTerminator) {
  driver.failingWrites.insert(3); // page 1
  const auto stopAtFailure = [](const PageOutcome& outcome) {
    return outcome.sent ? AfterPage::Continue : AfterPage::Abandon;
  };

  EXPECT_FALSE(UploadText(port, TextOf(600), driver.RecordingPause(), log, stopAtFailure).Complete());

  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W256", "D", "P1000", "W256"));
  EXPECT_THAT(log.Lines(), ElementsAre("", "wysłano stronę0", kNotConnected));
}

// An interrupted upload still leaves the display a whole, shorter text.
TEST_F(TextUploadTest, ObserverThatEndsTheTextGetsThePagesPauseThenTheTerminator) {
  const auto endAfterSecond = [](const PageOutcome& outcome) {
    return outcome.page == 1 ? AfterPage::EndText : AfterPage::Continue;
  };

  const UploadResult result = UploadText(port, TextOf(900), driver.RecordingPause(), log, endAfterSecond);

  EXPECT_THAT(driver.WritesAndPauses(),
              ElementsAre("W1", "W1", "W256", "D", "P1000", "W256", "D", "P1000", "W1"));
  EXPECT_EQ(driver.sent, "\xFF\x07" + TextOf(512) + std::string(1, '\0'));
  EXPECT_EQ(result.leadingPagesSent, 2u);
  EXPECT_EQ(result.pageCount, 4u);
  EXPECT_TRUE(result.terminatorSent);
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(log.Lines().back(), EndLine("512"));
}

// Asked between pages: the page before the request keeps its pause, no page follows it.
TEST_F(TextUploadTest, EndRequestedDuringAPauseEndsTheTextBeforeTheNextPage) {
  std::size_t asked = 0;
  const auto endAfterFirstPause = [&asked] { return ++asked == 1; };

  const UploadResult result =
      UploadText(port, TextOf(600), driver.RecordingPause(), log, {}, endAfterFirstPause);

  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W256", "D", "P1000", "W1"));
  EXPECT_EQ(result.leadingPagesSent, 1u);
  EXPECT_TRUE(result.terminatorSent);
  EXPECT_EQ(asked, 1u);
}

struct RefusedCase {
  const char* label;
  std::string text;
};

void PrintTo(const RefusedCase& row, std::ostream* out) { *out << row.label; }

class RefusedTextTest : public TextUploadTest, public ::testing::WithParamInterface<RefusedCase> {};

// A 00 would end the text early and hand the bytes after it to the device as commands.
TEST_P(RefusedTextTest, IsRefusedWholeWithNothingWrittenOrLogged) {
  EXPECT_FALSE(UploadText(port, GetParam().text, driver.RecordingPause(), log).Complete());
  EXPECT_TRUE(driver.calls.empty()) << "nothing written, no pause";
  EXPECT_THAT(log.Lines(), ElementsAre(""));
}

INSTANTIATE_TEST_SUITE_P(
    TextsTheDeviceCannotTake, RefusedTextTest,
    ::testing::Values(RefusedCase{"longer than the device holds", TextOf(kMaxTextBytes + 1)},
                      RefusedCase{"00 then commands", std::string("Hi\0\xFF\x03\x10\xFF\x08", 8)},
                      RefusedCase{"00 alone", std::string(1, '\0')},
                      RefusedCase{"00 in the last page", TextOf(1000) + std::string(1, '\0')}));

TEST(TerminatorInTextTest, FindsTheFirst00) {
  EXPECT_EQ(TerminatorInText(std::string("Hi\0\xFF\x03\0", 6)), 2u);
  EXPECT_EQ(TerminatorInText(TextOf(kMaxTextBytes)), std::nullopt);
  EXPECT_EQ(TerminatorInText(""), std::nullopt);
}

struct SecondsCase {
  std::size_t pagesWritten;
  std::size_t pageCount;
  std::size_t seconds;
};

// Each page written waits out its second before the next one, the last page included.
TEST(SecondsLeftTest, CountsThePausesStillToCome) {
  const SecondsCase cases[] = {
      {0, 8, 8}, {1, 8, 8}, {3, 8, 6}, {8, 8, 1}, {9, 8, 1}, {0, 1, 1}, {1, 1, 1}, {0, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SecondsLeft(c.pagesWritten, c.pageCount), c.seconds)
        << c.pagesWritten << " of " << c.pageCount << " pages written";
  }
}

} // namespace
} // namespace kv58
