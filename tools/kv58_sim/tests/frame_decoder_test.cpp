#include "tools/kv58_sim/frame_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/kv58_sim/tests/sim_event_printer.h"

namespace kv58::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) {
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

SimEvent Command(EventKind kind, int value, Millis timeMs) {
  SimEvent event;
  event.kind = kind;
  event.value = static_cast<std::uint8_t>(value);
  event.timeMs = timeMs;
  return event;
}

SimEvent Undecoded(std::string bytes, UndecodedReason reason, Millis timeMs, std::size_t count = 0) {
  SimEvent event;
  event.kind = EventKind::Undecoded;
  event.byteCount = count == 0 ? bytes.size() : count;
  event.bytes = std::move(bytes);
  event.reason = reason;
  event.timeMs = timeMs;
  return event;
}

SimEvent Text(std::string text, std::vector<UploadPage> pages, Millis endMs, Millis timeMs,
              std::size_t count = 0) {
  SimEvent event;
  event.kind = EventKind::Text;
  event.byteCount = count == 0 ? text.size() : count;
  event.bytes = std::move(text);
  event.pages = std::move(pages);
  event.endMs = endMs;
  event.timeMs = timeMs;
  return event;
}

SimEvent Hangup(Millis timeMs) {
  SimEvent event;
  event.kind = EventKind::Hangup;
  event.timeMs = timeMs;
  return event;
}

std::vector<SimEvent> DecodeAll(std::string_view bytes, Millis timeMs = 7) {
  FrameDecoder decoder;
  decoder.Feed(bytes, timeMs);
  return decoder.TakeEvents();
}

struct FrameCase {
  const char* label;
  std::string bytes;
  SimEvent expected;
};

class WholeFrameTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(WholeFrameTest, DecodesToOneEvent) {
  EXPECT_THAT(DecodeAll(GetParam().bytes), ElementsAre(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, WholeFrameTest,
    ::testing::Values(
        FrameCase{"SpeedZero", Bytes({0xFF, 0x03, 0x00}), Command(EventKind::Speed, 0, 7)},
        FrameCase{"SpeedSixteen", Bytes({0xFF, 0x03, 0x10}), Command(EventKind::Speed, 16, 7)},
        FrameCase{"ParameterIsAMarkerByte", Bytes({0xFF, 0x03, 0xFF}), Command(EventKind::Speed, 255, 7)},
        FrameCase{"FirstLine", Bytes({0xFF, 0x04, 0x01}), Command(EventKind::FirstLine, 1, 7)},
        FrameCase{"LastLine", Bytes({0xFF, 0x05, 0x16}), Command(EventKind::LastLine, 22, 7)},
        FrameCase{"ScrollTypeHorizontal", Bytes({0xFF, 0x06, 0x02}), Command(EventKind::ScrollType, 2, 7)},
        FrameCase{"Store", Bytes({0xFF, 0x08}), Command(EventKind::Store, 0, 7)},
        FrameCase{"Reset", Bytes({0xFF, 0x09}), Command(EventKind::Reset, 0, 7)},
        FrameCase{"EmptyUpload", Bytes({0xFF, 0x07, 0x00}), Text("", {}, 0, 7)},
        FrameCase{"OnePageUpload", Bytes({0xFF, 0x07, 'H', 'i', 0x00}), Text("Hi", {{0, 2}}, 0, 7)}),
    [](const auto& row) { return std::string(row.param.label); });

// Every kind of frame back to back, so splitting it anywhere cuts every kind somewhere.
std::string AllFramesStream() {
  return Bytes({0xFF, 0x03, 0x04, 0xFF, 0x04, 0x02, 0xFF, 0x05, 0x0A, 0xFF, 0x06,
                0x01, 0xFF, 0x08, 0xFF, 0x09, 0xFF, 0x07, 'a',  0xFF, 'b',  0x00});
}

TEST(FrameDecoderTest, AStreamSplitAnywhereDecodesAsAWhole) {
  const std::string stream = AllFramesStream();
  const std::vector<SimEvent> whole = DecodeAll(stream);
  ASSERT_EQ(whole.size(), 7u);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    FrameDecoder decoder;
    decoder.Feed(std::string_view(stream).substr(0, cut), 7);
    decoder.Feed(std::string_view(stream).substr(cut), 7);
    EXPECT_THAT(decoder.TakeEvents(), ElementsAreArray(whole)) << "cut after byte " << cut;
  }
}

TEST(FrameDecoderTest, AStreamFedByteByByteDecodesAsAWhole) {
  const std::string stream = AllFramesStream();
  FrameDecoder decoder;
  for (const char byte : stream) {
    decoder.Feed(std::string_view(&byte, 1), 7);
  }
  EXPECT_THAT(decoder.TakeEvents(), ElementsAreArray(DecodeAll(stream)));
}

TEST(FrameDecoderTest, EventsCarryTheTimeOfTheirFirstByte) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF}), 100);
  decoder.Feed(Bytes({0x03}), 150);
  decoder.Feed(Bytes({0x04, 0xFF, 0x08}), 180);
  EXPECT_THAT(decoder.TakeEvents(),
              ElementsAre(Command(EventKind::Speed, 4, 100), Command(EventKind::Store, 0, 180)));
}

TEST(FrameDecoderTest, UploadInPagesReportsEachPageStartAndSize) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF, 0x07}) + std::string(200, 'a'), 100);
  decoder.Feed(std::string(56, 'b'), 110); // same page: the gap is short
  decoder.Feed(std::string(44, 'c'), 1103);
  decoder.Feed(Bytes({0x00}), 2104);

  const std::string text = std::string(200, 'a') + std::string(56, 'b') + std::string(44, 'c');
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(Text(text, {{0, 256}, {1003, 44}}, 2004, 100)));
}

TEST(FrameDecoderTest, PageGapIsAdjustable) {
  DecoderLimits limits;
  limits.pageGapMs = 20;
  FrameDecoder decoder(limits);
  decoder.Feed(Bytes({0xFF, 0x07, 'a'}), 0);
  decoder.Feed("b", 20); // exactly the gap: same page
  decoder.Feed("c", 41);
  decoder.Feed(Bytes({0x00}), 41);
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(Text("abc", {{0, 2}, {41, 1}}, 41, 0)));
}

TEST(FrameDecoderTest, UploadTextKeepsMarkerAndCommandBytesUntilTheZero) {
  const std::string inner = Bytes({'A', 0xFF, 0x03, 0x04, 0xFF, 0x09, 0xFF, 0xFF, 'B'});
  EXPECT_THAT(DecodeAll(Bytes({0xFF, 0x07}) + inner + Bytes({0x00, 0xFF, 0x08})),
              ElementsAre(Text(inner, {{0, inner.size()}}, 0, 7), Command(EventKind::Store, 0, 7)));
}

TEST(FrameDecoderTest, UploadSurvivesThePauseAfterEveryPage) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF, 0x07, 'a'}), 0);
  decoder.Expire(4999);
  decoder.Feed(Bytes({'b'}), 4999);
  decoder.Feed(Bytes({0x00}), 9998);
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(Text("ab", {{0, 1}, {4999, 1}}, 9998, 0)));
}

TEST(FrameDecoderTest, UploadTextBeyondTheCapIsCountedNotKept) {
  DecoderLimits limits;
  limits.maxKeptBytes = 8;
  FrameDecoder decoder(limits);
  decoder.Feed(Bytes({0xFF, 0x07}) + std::string(20, 'x') + Bytes({0x00}), 0);

  const std::vector<SimEvent> events = decoder.TakeEvents();
  ASSERT_THAT(events, ElementsAre(Text(std::string(8, 'x'), {{0, 20}}, 0, 0, 20)));
  EXPECT_TRUE(events[0].IsCapped());
}

struct BadBytesCase {
  const char* label;
  std::string bytes;
  std::vector<SimEvent> expected;
};

class BadBytesTest : public ::testing::TestWithParam<BadBytesCase> {};

TEST_P(BadBytesTest, AreReportedAndDecodingGoesOn) {
  FrameDecoder decoder;
  decoder.Feed(GetParam().bytes, 7);
  decoder.Hangup(9);
  EXPECT_THAT(decoder.TakeEvents(), ElementsAreArray(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, BadBytesTest,
    ::testing::Values(
        BadBytesCase{
            "GarbageBeforeAFrame",
            Bytes({'A', 'B', 'C', 0xFF, 0x03, 0x04}),
            {Undecoded("ABC", UndecodedReason::NoMarker, 7), Command(EventKind::Speed, 4, 7), Hangup(9)}},
        BadBytesCase{"UnknownCode",
                     Bytes({0xFF, 0x20, 0xFF, 0x08}),
                     {Undecoded(Bytes({0xFF, 0x20}), UndecodedReason::UnknownCode, 7),
                      Command(EventKind::Store, 0, 7), Hangup(9)}},
        BadBytesCase{"CodeBelowTheTable",
                     Bytes({0xFF, 0x02, 0xFF, 0x00, 0x41}),
                     {Undecoded(Bytes({0xFF, 0x02}), UndecodedReason::UnknownCode, 7),
                      Undecoded(Bytes({0xFF, 0x00}), UndecodedReason::UnknownCode, 7),
                      Undecoded("A", UndecodedReason::NoMarker, 7), Hangup(9)}},
        BadBytesCase{"CodeAboveTheTable",
                     Bytes({0xFF, 0x0A, 0xFF, 0xFE}),
                     {Undecoded(Bytes({0xFF, 0x0A}), UndecodedReason::UnknownCode, 7),
                      Undecoded(Bytes({0xFF, 0xFE}), UndecodedReason::UnknownCode, 7), Hangup(9)}},
        BadBytesCase{"DoubledMarkerKeepsTheSecond",
                     Bytes({0xFF, 0xFF, 0x09}),
                     {Undecoded(Bytes({0xFF}), UndecodedReason::Incomplete, 7),
                      Command(EventKind::Reset, 0, 7), Hangup(9)}},
        BadBytesCase{"MarkerAloneAtHangup",
                     Bytes({0xFF}),
                     {Undecoded(Bytes({0xFF}), UndecodedReason::Incomplete, 7), Hangup(9)}},
        BadBytesCase{"MissingParameterAtHangup",
                     Bytes({0xFF, 0x05}),
                     {Undecoded(Bytes({0xFF, 0x05}), UndecodedReason::Incomplete, 7), Hangup(9)}},
        BadBytesCase{
            "UploadWithoutItsZeroAtHangup",
            Bytes({0xFF, 0x07, 'H', 'i'}),
            {Undecoded(Bytes({0xFF, 0x07, 'H', 'i'}), UndecodedReason::UnterminatedUpload, 7), Hangup(9)}},
        BadBytesCase{"GarbageAtHangup", "xyz", {Undecoded("xyz", UndecodedReason::NoMarker, 7), Hangup(9)}},
        BadBytesCase{"NothingAtHangup", "", {Hangup(9)}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(FrameDecoderTest, AFrameCutShortBySilenceIsGivenUpAtItsDeadline) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF, 0x03}), 1000);
  ASSERT_EQ(decoder.Deadline(), 1500);

  decoder.Expire(1499);
  EXPECT_FALSE(decoder.HasEvents());
  decoder.Expire(1500);
  EXPECT_THAT(decoder.TakeEvents(),
              ElementsAre(Undecoded(Bytes({0xFF, 0x03}), UndecodedReason::Incomplete, 1000)));
  EXPECT_EQ(decoder.Deadline(), std::nullopt);
}

TEST(FrameDecoderTest, BytesAfterALongSilenceDoNotCompleteAStaleFrame) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF, 0x03}), 0);
  decoder.Feed(Bytes({0x04, 0xFF, 0x09}), 600);
  EXPECT_THAT(decoder.TakeEvents(),
              ElementsAre(Undecoded(Bytes({0xFF, 0x03}), UndecodedReason::Incomplete, 0),
                          Undecoded(Bytes({0x04}), UndecodedReason::NoMarker, 600),
                          Command(EventKind::Reset, 0, 600)));
}

TEST(FrameDecoderTest, GarbageIsReportedAfterSilenceWithoutWaitingForAFrame) {
  FrameDecoder decoder;
  decoder.Feed("AB", 10);
  decoder.Feed("C", 300);
  ASSERT_EQ(decoder.Deadline(), 800);
  decoder.Expire(800);
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(Undecoded("ABC", UndecodedReason::NoMarker, 10)));
}

TEST(FrameDecoderTest, AnUnfinishedUploadIsGivenUpAfterItsOwnLongerTimeout) {
  DecoderLimits limits;
  limits.uploadTimeoutMs = 3000;
  limits.maxKeptBytes = 4;
  FrameDecoder decoder(limits);
  decoder.Feed(Bytes({0xFF, 0x07, 'a', 'b', 'c'}), 0);
  ASSERT_EQ(decoder.Deadline(), 3000);
  decoder.Expire(3000);
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(Undecoded(Bytes({0xFF, 0x07, 'a', 'b'}),
                                                          UndecodedReason::UnterminatedUpload, 0, 5)));
}

TEST(FrameDecoderTest, LongGarbageIsReportedInCappedRuns) {
  DecoderLimits limits;
  limits.maxKeptBytes = 4;
  FrameDecoder decoder(limits);
  decoder.Feed("0123456789", 0);
  decoder.Hangup(1);
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(Undecoded("0123", UndecodedReason::NoMarker, 0),
                                                Undecoded("4567", UndecodedReason::NoMarker, 0),
                                                Undecoded("89", UndecodedReason::NoMarker, 0), Hangup(1)));
}

TEST(FrameDecoderTest, FlushReportsWhatIsPendingWithoutAHangup) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF, 0x08, 0xFF, 0x07, 'a'}), 3);
  decoder.Flush();
  EXPECT_THAT(decoder.TakeEvents(),
              ElementsAre(Command(EventKind::Store, 0, 3),
                          Undecoded(Bytes({0xFF, 0x07, 'a'}), UndecodedReason::UnterminatedUpload, 3)));
  EXPECT_EQ(decoder.Deadline(), std::nullopt);
  decoder.Flush();
  EXPECT_FALSE(decoder.HasEvents());
}

// A display behind a device server never sees a client leave: a text left open takes the next
// client's bytes until its 00, a frame still waits for its time-out, stray bytes are reported.
TEST(FrameDecoderTest, AConnectionClosingLeavesTheDisplaysLineAsItWas) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({'x', 0xFF, 0x07, 'a', 'b'}), 10);
  decoder.ConnectionClosed(20);
  SimEvent closedMidText = Command(EventKind::ClosedMidText, 0, 20);
  closedMidText.byteCount = 2;
  EXPECT_THAT(decoder.TakeEvents(),
              ElementsAre(Undecoded("x", UndecodedReason::NoMarker, 10), closedMidText, Hangup(20)));
  decoder.Feed(Bytes({0xFF, 0x07, 'c', 0x00, 0xFF, 0x03}), 1000);
  decoder.ConnectionClosed(1010);
  decoder.Feed(Bytes({0x04}), 1050);
  SimEvent text = Text(Bytes({'a', 'b', 0xFF, 0x07, 'c'}), {{0, 2}, {990, 3}}, 990, 10);
  text.connections = 2;
  EXPECT_THAT(decoder.TakeEvents(), ElementsAre(text, Hangup(1010), Command(EventKind::Speed, 4, 1000)));
}

TEST(FrameDecoderTest, TakeEventsHandsEachEventOutOnce) {
  FrameDecoder decoder;
  decoder.Feed(Bytes({0xFF, 0x08}), 0);
  EXPECT_TRUE(decoder.HasEvents());
  EXPECT_EQ(decoder.TakeEvents().size(), 1u);
  EXPECT_FALSE(decoder.HasEvents());
  EXPECT_THAT(decoder.TakeEvents(), IsEmpty());
}

TEST(FrameDecoderTest, NothingPendingMeansNoDeadline) {
  FrameDecoder decoder;
  EXPECT_EQ(decoder.Deadline(), std::nullopt);
  decoder.Feed(Bytes({0xFF, 0x09}), 0);
  EXPECT_EQ(decoder.Deadline(), std::nullopt);
}

} // namespace
} // namespace kv58::sim
