#include "tools/kv58_sim/event_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/common/json_line.h"
#include "tools/common/json_read.h"

namespace kv58::sim {
namespace {

struct EscapeCase {
  const char* label;
  std::string bytes;
  std::string escaped;
};

class EscapeCTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeCTest, ShowsBytesAsACLiteral) { EXPECT_EQ(EscapeC(GetParam().bytes), GetParam().escaped); }

INSTANTIATE_TEST_SUITE_P(
    Bytes, EscapeCTest,
    ::testing::Values(EscapeCase{"Empty", "", ""}, EscapeCase{"PrintableAscii", "Hi there ~!", "Hi there ~!"},
                      EscapeCase{"Quote", "say \"x\"", R"(say \"x\")"},
                      EscapeCase{"Backslash", R"(a\b)", R"(a\\b)"},
                      EscapeCase{"LineEnds", "a\r\nb\tc", R"(a\r\nb\tc)"},
                      EscapeCase{"ControlBytes", std::string("\x01\x1b[", 3), R"(\x01\x1b[)"},
                      EscapeCase{"NulInTheMiddle", std::string("a\0b", 3), R"(a\x00b)"},
                      EscapeCase{"Delete", "\x7f", R"(\x7f)"},
                      EscapeCase{"Windows1250Letters", "\xb9\xe6\xea", R"(\xb9\xe6\xea)"},
                      EscapeCase{"HexDigitAfterEscape",
                                 "\xff"
                                 "A",
                                 R"(\xffA)"}),
    [](const auto& row) { return std::string(row.param.label); });

class EscapeJsonTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeJsonTest, GivesTheInsideOfAJsonString) {
  EXPECT_EQ(JsonEscape(GetParam().bytes, HighBytes::AsCodePoints), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, EscapeJsonTest,
    ::testing::Values(EscapeCase{"Empty", "", ""}, EscapeCase{"PrintableAscii", "Hi /x ~", "Hi /x ~"},
                      EscapeCase{"Quote", "\"", R"(\")"}, EscapeCase{"Backslash", "\\", R"(\\)"},
                      EscapeCase{"LineEnds", "\r\n\t", R"(\r\n\t)"},
                      EscapeCase{"ControlBytes", std::string("\0\x01\x1f", 3), R"(\u0000\u0001\u001f)"},
                      EscapeCase{"Delete", "\x7f", R"(\u007f)"},
                      EscapeCase{"HighBytesAsCodePoints", "\xb9\xff", R"(\u00b9\u00ff)"}),
    [](const auto& row) { return std::string(row.param.label); });

// A name, a path, a message: valid UTF-8 passes, any other byte is escaped, so the line stays
// valid JSON.
TEST(EscapeJsonTest, TextsKeepTheirUtf8AndNothingElse) {
  EXPECT_EQ(JsonEscape("/home/zo\xc3\xab/\"x\"", HighBytes::AsText), "/home/zo\xc3\xab/\\\"x\\\"");
  EXPECT_EQ(JsonEscape("cut \xc3( stray \xff \x1b", HighBytes::AsText), R"(cut \u00c3( stray \u00ff \u001b)");
}

TEST(EscapeJsonTest, EveryByteComesBackFromTheJsonText) {
  std::string everyByte;
  for (int value = 0; value < 256; ++value) {
    everyByte.push_back(static_cast<char>(value));
  }
  const std::string json = JsonEscape(everyByte, HighBytes::AsCodePoints);
  for (const char c : json) {
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "JSON text is plain ASCII, found byte " << int{c};
  }
  const auto parsed = ParseJson('"' + json + '"');
  ASSERT_TRUE(parsed.has_value()) << json;
  EXPECT_EQ(BytesFromCodePoints(parsed->get<std::string>()), everyByte);
}

TEST(HexBytesTest, WritesTwoLowercaseDigitsPerByteWithTheSeparator) {
  EXPECT_EQ(HexBytes("ABC", " "), "41 42 43");
  EXPECT_EQ(HexBytes("\xff\x07\x0a", ""), "ff070a");
  EXPECT_EQ(HexBytes("", " "), "");
}

TEST(ScrollTypeNameTest, NamesTheThreeKindsAndFlagsTheRest) {
  EXPECT_EQ(ScrollTypeName(0), "none");
  EXPECT_EQ(ScrollTypeName(1), "vertical");
  EXPECT_EQ(ScrollTypeName(2), "horizontal");
  EXPECT_EQ(ScrollTypeName(3), "unknown");
  EXPECT_EQ(ScrollTypeName(255), "unknown");
}

SimEvent Command(EventKind kind, std::uint8_t value, Millis timeMs) {
  SimEvent event;
  event.kind = kind;
  event.value = value;
  event.timeMs = timeMs;
  return event;
}

SimEvent Upload() {
  SimEvent event;
  event.kind = EventKind::Text;
  event.timeMs = 2000;
  event.bytes = "Hi \"x\"\n\xb9";
  event.byteCount = event.bytes.size();
  event.pages = {{0, 5}, {1003, 3}};
  event.endMs = 2004;
  return event;
}

SimEvent CappedUpload() {
  SimEvent event = Upload();
  event.bytes = "Hi";
  event.byteCount = 5000;
  event.pages = {{3, 5000}};
  return event;
}

SimEvent UploadOverTwoConnections() {
  SimEvent event = Upload();
  event.connections = 2;
  return event;
}

SimEvent ClosedMidText() {
  SimEvent event = Command(EventKind::ClosedMidText, 0, 5000);
  event.byteCount = 1200;
  return event;
}

SimEvent Undecoded(std::string bytes, UndecodedReason reason, std::size_t count) {
  SimEvent event;
  event.kind = EventKind::Undecoded;
  event.timeMs = 4100;
  event.bytes = std::move(bytes);
  event.byteCount = count;
  event.reason = reason;
  return event;
}

struct FormatCase {
  const char* label;
  SimEvent event;
  std::string text;
  std::string json;
};

class FormatEventTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatEventTest, AsText) {
  EXPECT_EQ(FormatEvent(GetParam().event, OutputFormat::Text), GetParam().text);
}

TEST_P(FormatEventTest, AsJson) {
  EXPECT_EQ(FormatEvent(GetParam().event, OutputFormat::Json), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Events, FormatEventTest,
    ::testing::Values(
        FormatCase{"Speed", Command(EventKind::Speed, 4, 1234), "[   1234 ms] speed 4",
                   R"({"t_ms":1234,"event":"speed","value":4})"},
        FormatCase{"FirstLine", Command(EventKind::FirstLine, 1, 0), "[      0 ms] first-line 1",
                   R"({"t_ms":0,"event":"first-line","value":1})"},
        FormatCase{"LastLineWithAWideTime", Command(EventKind::LastLine, 22, 123456789),
                   "[123456789 ms] last-line 22", R"({"t_ms":123456789,"event":"last-line","value":22})"},
        FormatCase{"ScrollType", Command(EventKind::ScrollType, 2, 15),
                   "[     15 ms] scroll-type 2 (horizontal)",
                   R"({"t_ms":15,"event":"scroll-type","value":2,"name":"horizontal"})"},
        FormatCase{"ScrollTypeOutOfRange", Command(EventKind::ScrollType, 9, 15),
                   "[     15 ms] scroll-type 9 (unknown)",
                   R"({"t_ms":15,"event":"scroll-type","value":9,"name":"unknown"})"},
        FormatCase{"Store", Command(EventKind::Store, 0, 8), "[      8 ms] store",
                   R"({"t_ms":8,"event":"store"})"},
        FormatCase{"Reset", Command(EventKind::Reset, 0, 9), "[      9 ms] reset",
                   R"({"t_ms":9,"event":"reset"})"},
        FormatCase{"Open", Command(EventKind::Open, 0, 12), "[     12 ms] open",
                   R"({"t_ms":12,"event":"open"})"},
        FormatCase{"Hangup", Command(EventKind::Hangup, 0, 13), "[     13 ms] hangup",
                   R"({"t_ms":13,"event":"hangup"})"},
        FormatCase{
            "Upload", Upload(),
            R"([   2000 ms] text 8 bytes, pages at 0, 1003 ms (5 + 3 bytes), end at 2004 ms: "Hi \"x\"\n\xb9")",
            R"({"t_ms":2000,"event":"text","bytes":8,"text":"Hi \"x\"\n\u00b9","truncated":false,)"
            R"("pages_ms":[0,1003],"page_bytes":[5,3],"end_ms":2004})"},
        FormatCase{
            "CappedUpload", CappedUpload(),
            R"([   2000 ms] text 5000 bytes (first 2 shown), page at 3 ms (5000 bytes), end at 2004 ms: "Hi")",
            R"({"t_ms":2000,"event":"text","bytes":5000,"text":"Hi","truncated":true,)"
            R"("pages_ms":[3],"page_bytes":[5000],"end_ms":2004})"},
        FormatCase{"UploadOverTwoConnections", UploadOverTwoConnections(),
                   R"([   2000 ms] text 8 bytes over 2 connections, pages at 0, 1003 ms (5 + 3 bytes), )"
                   R"(end at 2004 ms: "Hi \"x\"\n\xb9")",
                   R"({"t_ms":2000,"event":"text","bytes":8,"text":"Hi \"x\"\n\u00b9","truncated":false,)"
                   R"("pages_ms":[0,1003],"page_bytes":[5,3],"end_ms":2004,"connections":2})"},
        FormatCase{"ClosedMidText", ClosedMidText(),
                   "[   5000 ms] connection closed mid-text (1200 bytes of it so far): the display waits for "
                   "the rest and its 00",
                   R"({"t_ms":5000,"event":"closed-mid-text","bytes":1200})"},
        FormatCase{"EmptyUpload", Command(EventKind::Text, 0, 5),
                   R"([      5 ms] text 0 bytes, no pages, end at 0 ms: "")",
                   R"({"t_ms":5,"event":"text","bytes":0,"text":"","truncated":false,)"
                   R"("pages_ms":[],"page_bytes":[],"end_ms":0})"},
        FormatCase{
            "Garbage", Undecoded("ABC", UndecodedReason::NoMarker, 3),
            "[   4100 ms] undecoded 3 bytes (no marker): 41 42 43",
            R"({"t_ms":4100,"event":"undecoded","bytes":3,"hex":"414243","truncated":false,"reason":"no-marker"})"},
        FormatCase{
            "UnknownCode", Undecoded("\xff\x20", UndecodedReason::UnknownCode, 2),
            "[   4100 ms] undecoded 2 bytes (unknown code): ff 20",
            R"({"t_ms":4100,"event":"undecoded","bytes":2,"hex":"ff20","truncated":false,"reason":"unknown-code"})"},
        FormatCase{
            "LoneMarker", Undecoded("\xff", UndecodedReason::Incomplete, 1),
            "[   4100 ms] undecoded 1 byte (incomplete frame): ff",
            R"({"t_ms":4100,"event":"undecoded","bytes":1,"hex":"ff","truncated":false,"reason":"incomplete"})"},
        FormatCase{"CappedUnterminatedUpload",
                   Undecoded("\xff\x07", UndecodedReason::UnterminatedUpload, 9000),
                   "[   4100 ms] undecoded 9000 bytes (upload without its 0x00 end), first 2: ff 07",
                   R"({"t_ms":4100,"event":"undecoded","bytes":9000,"hex":"ff07","truncated":true,)"
                   R"("reason":"unterminated-upload"})"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(FormatStartTest, PtyAndLinkLines) {
  EXPECT_EQ(FormatPty("/dev/pts/3", OutputFormat::Text), "pty /dev/pts/3");
  EXPECT_EQ(FormatPty("/dev/pts/3", OutputFormat::Json), R"({"t_ms":0,"event":"pty","path":"/dev/pts/3"})");
  EXPECT_EQ(FormatLink("/h/.config/kv58/ports/COM7", "/dev/pts/3", OutputFormat::Text),
            "link /h/.config/kv58/ports/COM7 -> /dev/pts/3");
  EXPECT_EQ(FormatLink("/h/\"q\"/COM7", "/dev/pts/3", OutputFormat::Json),
            R"({"t_ms":0,"event":"link","path":"/h/\"q\"/COM7","target":"/dev/pts/3"})");
}

TEST(FormatStartTest, ExitLine) {
  EXPECT_EQ(FormatExit("SIGTERM", 6000, OutputFormat::Text), "[   6000 ms] exit (SIGTERM)");
  EXPECT_EQ(FormatExit("hangup", 6000, OutputFormat::Json),
            R"({"t_ms":6000,"event":"exit","reason":"hangup"})");
}

} // namespace
} // namespace kv58::sim
