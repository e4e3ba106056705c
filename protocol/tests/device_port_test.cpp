// The open sequence: the step that failed, and the display's line settings, on a recording driver.

#include "protocol/device_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

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

// Only the display's members change; what the driver reported for the rest stays.
TEST(OpenDevicePortTest, WritesTheDisplaysLineSettingsOverWhatTheDriverReported) {
  DCB reported;
  reported.DCBlength = 28;
  reported.fParity = 1;
  reported.fTXContinueOnXoff = 1;
  reported.XonLim = 2048;
  reported.XoffLim = 512;
  reported.XonChar = 0x11;
  reported.XoffChar = 0x13;
  reported.EofChar = 0x1A;
  reported.fOutX = 1;
  reported.fRtsControl = RTS_CONTROL_HANDSHAKE;
  reported.fDtrControl = DTR_CONTROL_ENABLE;
  reported.Parity = EVENPARITY;
  reported.StopBits = TWOSTOPBITS;
  reported.ByteSize = 7;
  ScriptedWriteDriver driver;
  driver.reportedDcb = reported;
  TCOMSocket port(driver);
  ASSERT_EQ(OpenDevicePort(port, "COM3", 19200), OpenStep::Ready);

  DCB expected = reported;
  expected.BaudRate = 19200;
  expected.ByteSize = 8;
  expected.Parity = NOPARITY;
  expected.StopBits = ONESTOPBIT;
  expected.fDtrControl = DTR_CONTROL_DISABLE;
  expected.fRtsControl = RTS_CONTROL_DISABLE;
  expected.fOutX = 0;
  expected.fBinary = 1;
  ASSERT_TRUE(driver.lastDcb.has_value());
  EXPECT_EQ(*driver.lastDcb, expected);
  EXPECT_EQ(driver.lastTimeouts, (COMMTIMEOUTS{100, 10, 100, 10, 100}));
  EXPECT_EQ(driver.lastQueueSizes, (std::pair<std::uint32_t, std::uint32_t>{1024, 1024}));
}

} // namespace
} // namespace kv58
