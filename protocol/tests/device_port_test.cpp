// The open sequence and the settings that take several frames, on a recording driver.

#include "protocol/device_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/frame_sequence.h"
#include "protocol/tests/protocol_test_support.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using testing::ScriptedWriteDriver;

struct OpenCase {
  const char* label;
  std::string portName;
  std::string failingCall;
  OpenStep step;
  std::vector<std::string> calls;
};

void PrintTo(const OpenCase& row, std::ostream* out) { *out << row.label; }

class OpenDevicePortTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenDevicePortTest, NamesTheStepThatFailedAndMakesNoCallAfterIt) {
  const auto& c = GetParam();
  ScriptedWriteDriver driver;
  TCOMSocket port(driver);
  if (!c.failingCall.empty()) {
    driver.failing.insert(c.failingCall);
  }

  EXPECT_EQ(OpenDevicePort(port, c.portName, 19200), c.step);
  EXPECT_EQ(driver.CallNames(), c.calls);
}

const std::vector<std::string> kWholeSequence{"CreateFileA", "GetCommState",    "SetCommState",
                                              "SetupComm",   "SetCommTimeouts", "GetCommState"};

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenDevicePortTest,
    ::testing::Values(OpenCase{"ready", "COM3", "", OpenStep::Ready, kWholeSequence},
                      OpenCase{"no port name", "LPT1", "", OpenStep::PortName, {}},
                      OpenCase{"not opened", "COM3", "CreateFileA", OpenStep::Open, {"CreateFileA"}},
                      OpenCase{"settings unreadable",
                               "COM3",
                               "GetCommState",
                               OpenStep::ReadSettings,
                               {"CreateFileA", "GetCommState"}},
                      OpenCase{"line settings refused",
                               "COM3",
                               "SetCommState",
                               OpenStep::LineSettings,
                               {"CreateFileA", "GetCommState", "SetCommState"}},
                      OpenCase{"queue sizes refused",
                               "COM3",
                               "SetupComm",
                               OpenStep::QueuesAndTimeouts,
                               {"CreateFileA", "GetCommState", "SetCommState", "SetupComm"}},
                      OpenCase{
                          "time-outs refused",
                          "COM3",
                          "SetCommTimeouts",
                          OpenStep::QueuesAndTimeouts,
                          {"CreateFileA", "GetCommState", "SetCommState", "SetupComm", "SetCommTimeouts"}}),
    [](const auto& row) {
      std::string name = row.param.label;
      std::erase_if(name, [](char c) { return c == ' ' || c == '-'; });
      return name;
    });

TEST(OpenDevicePortTest, WritesTheDisplaysLineSettingsAtTheChosenRate) {
  ScriptedWriteDriver driver;
  TCOMSocket port(driver);
  ASSERT_EQ(OpenDevicePort(port, "COM3", 19200), OpenStep::Ready);
  ASSERT_TRUE(driver.lastDcb.has_value());
  EXPECT_EQ(driver.lastDcb->BaudRate, 19200u);
  EXPECT_EQ(driver.lastDcb->ByteSize, 8);
}

using FrameSequenceTest = testing::OpenPortTest<>;

// The observer sees each frame before its pause, and may end the sequence there.
TEST_F(FrameSequenceTest, ScrollTypeIsFollowedByTenMillisecondsThenTheReset) {
  std::vector<std::string> seen;
  const auto observe = [&](const Frame& frame, bool sent) {
    seen.push_back(std::to_string(static_cast<int>(frame.code)) + (sent ? " sent" : " lost"));
    return true;
  };

  EXPECT_TRUE(SendScrollType(port, 2, driver.RecordingPause(), observe));

  EXPECT_EQ(driver.sent, "\xFF\x06\x02\xFF\x09");
  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W1", "P10", "W1", "W1"));
  EXPECT_THAT(seen, ElementsAre("6 sent", "9 sent"));
}

TEST_F(FrameSequenceTest, ObserverThatStopsAtAFailureKeepsThePauseAndTheRestOffTheLine) {
  driver.failingWrites.insert(1);
  EXPECT_FALSE(
      SendScrollType(port, 1, driver.RecordingPause(), [](const Frame&, bool sent) { return sent; }));
  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W1"));
}

struct LinesCase {
  std::int32_t first;
  std::int32_t last;
  std::string frames;
};

// The last line goes to the bottom first, so the first line never passes it on the way.
TEST_F(FrameSequenceTest, LinesNeverCrossOnTheWay) {
  const LinesCase cases[] = {
      {3, 9, "\xFF\x05\x16\xFF\x04\x03\xFF\x05\x09"},
      {20, 22, "\xFF\x05\x16\xFF\x04\x14"},
      {1, 1, "\xFF\x05\x16\xFF\x04\x01\xFF\x05\x01"},
  };
  for (const auto& c : cases) {
    driver.ClearRecord();
    EXPECT_TRUE(SendFrames(port, LinesFrames(c.first, c.last), driver.RecordingPause(), {}));
    EXPECT_EQ(driver.sent, c.frames) << c.first << " to " << c.last;
  }
}

} // namespace
} // namespace kv58
