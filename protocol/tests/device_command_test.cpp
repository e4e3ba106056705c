#include "protocol/device_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <string>

#include "protocol/tests/protocol_test_support.h"

namespace kv58 {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using testing::ScriptedWriteDriver;
using ::testing::SizeIs;

using DeviceCommandTest = testing::OpenPortTest<>;

struct FrameCase {
  const char* label;
  TDeviceCommand code;
  std::uint8_t parameter;
  std::string frame;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const FrameCase& row, std::ostream* out) { *out << row.label; }

class FrameTest : public DeviceCommandTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTest, WritesEachByteOfTheFrameByItselfAndSucceeds) {
  const auto& c = GetParam();

  EXPECT_TRUE(SendCommand(port, c.code, c.parameter));

  EXPECT_EQ(driver.sent, c.frame);
  EXPECT_EQ(driver.CountOf("WriteFile"), c.frame.size());
  EXPECT_THAT(driver.writes, Each(SizeIs(1)));
  EXPECT_EQ(driver.CountOf("ReadFile"), 0u) << "a command reads nothing back";
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FrameTest,
    ::testing::Values(FrameCase{"SpeedZero", TDeviceCommand::dcSpeed, 0, std::string("\xFF\x03\x00", 3)},
                      FrameCase{"SpeedSixteen", TDeviceCommand::dcSpeed, 16, "\xFF\x03\x10"},
                      FrameCase{"FirstLine", TDeviceCommand::dcFirstLine, 10, "\xFF\x04\x0A"},
                      FrameCase{"LastLine", TDeviceCommand::dcLastLine, 22, "\xFF\x05\x16"},
                      FrameCase{"ScrollTypeHorizontal", TDeviceCommand::dcScrollType, 2, "\xFF\x06\x02"},
                      FrameCase{"ParameterFF", TDeviceCommand::dcSpeed, 0xFF, "\xFF\x03\xFF"},
                      FrameCase{"TextIgnoresParameter", TDeviceCommand::dcText, 5, "\xFF\x07"},
                      FrameCase{"Store", TDeviceCommand::dcStore, 0, "\xFF\x08"},
                      FrameCase{"ResetIgnoresParameter", TDeviceCommand::dcReset, 0x2A, "\xFF\x09"}),
    [](const auto& row) { return std::string(row.param.label); });

struct BrokenByteCase {
  const char* label;
  TDeviceCommand code;
  std::size_t frameLength;
  std::size_t brokenWrite;
  bool refused; // the write fails; otherwise it reports success having taken no byte
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const BrokenByteCase& row, std::ostream* out) { *out << row.label; }

class BrokenByteTest : public DeviceCommandTest, public ::testing::WithParamInterface<BrokenByteCase> {};

TEST_P(BrokenByteTest, AnyByteNotTakenFailsTheCommandButEveryByteIsStillWritten) {
  const auto& c = GetParam();
  if (c.refused) {
    driver.failingWrites.insert(c.brokenWrite);
  } else {
    driver.shortWrites[c.brokenWrite] = 0;
  }

  EXPECT_FALSE(SendCommand(port, c.code, 7));

  EXPECT_EQ(driver.CountOf("WriteFile"), c.frameLength);
  EXPECT_EQ(driver.sent.size(), c.frameLength - 1) << "only the broken byte is missing from the line";
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, BrokenByteTest,
    ::testing::Values(BrokenByteCase{"MarkerOfThree", TDeviceCommand::dcSpeed, 3, 0, true},
                      BrokenByteCase{"CodeOfThree", TDeviceCommand::dcFirstLine, 3, 1, true},
                      BrokenByteCase{"ParameterOfThree", TDeviceCommand::dcLastLine, 3, 2, true},
                      BrokenByteCase{"MarkerOfTwo", TDeviceCommand::dcStore, 2, 0, true},
                      BrokenByteCase{"CodeOfTwo", TDeviceCommand::dcReset, 2, 1, true},
                      BrokenByteCase{"MarkerTakenAsNothing", TDeviceCommand::dcScrollType, 3, 0, false},
                      BrokenByteCase{"CodeTakenAsNothing", TDeviceCommand::dcReset, 2, 1, false}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(DeviceCommandTest, ClosedPortPutsNothingOnTheLineAndFails) {
  ASSERT_TRUE(port.Close());
  driver.ClearRecord();
  EXPECT_FALSE(SendCommand(port, TDeviceCommand::dcSpeed, 4));
  EXPECT_FALSE(SendCommand(port, TDeviceCommand::dcReset));
  EXPECT_TRUE(driver.calls.empty());
}

struct ParameterCase {
  std::int32_t value;
  std::uint8_t byte;
};

TEST(ParameterByte, KeepsTheLowEightBitsOfASignedValue) {
  for (const auto& c : {ParameterCase{0, 0x00}, ParameterCase{16, 0x10}, ParameterCase{22, 0x16},
                        ParameterCase{255, 0xFF}, ParameterCase{256, 0x00}, ParameterCase{257, 0x01},
                        ParameterCase{0x1234, 0x34}, ParameterCase{-1, 0xFF}, ParameterCase{-256, 0x00},
                        ParameterCase{std::numeric_limits<std::int32_t>::max(), 0xFF},
                        ParameterCase{std::numeric_limits<std::int32_t>::min(), 0x00}}) {
    EXPECT_EQ(ParameterByte(c.value), c.byte) << "value " << c.value;
  }
}

struct LogCase {
  const char* label;
  TDeviceCommand code;
  const char* sentLine;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const LogCase& row, std::ostream* out) { *out << row.label; }

class LogTest : public DeviceCommandTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(LogTest, SentCommandLeavesItsOwnLine) {
  SendAndLog(port, log, GetParam().code, 1);
  EXPECT_THAT(log.Lines(), ElementsAre("", GetParam().sentLine));
}

TEST_P(LogTest, FailedCommandLeavesPortNotConnected) {
  driver.failingWrites.insert(0);
  SendAndLog(port, log, GetParam().code, 1);
  EXPECT_THAT(log.Lines(), ElementsAre("", "Port nie połączony"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LogTest,
    ::testing::Values(LogCase{"Speed", TDeviceCommand::dcSpeed, "wysłano zmianę szybkości"},
                      LogCase{"FirstLine", TDeviceCommand::dcFirstLine, "wysłano zmianę pierwszej linii"},
                      LogCase{"LastLine", TDeviceCommand::dcLastLine, "wysłano zmianę ostatnij linni"},
                      LogCase{"ScrollType", TDeviceCommand::dcScrollType, "wysłano zmianę rodzaju scrollu"},
                      LogCase{"Store", TDeviceCommand::dcStore, "wysłano zapis do eepromu"},
                      LogCase{"Reset", TDeviceCommand::dcReset, "wysłano zeruj"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(DeviceCommandTest, SendAndLogOnAClosedPortLogsOneFailureLinePerCommand) {
  ASSERT_TRUE(port.Close());
  SendAndLog(port, log, TDeviceCommand::dcScrollType, 2);
  SendAndLog(port, log, TDeviceCommand::dcReset);
  EXPECT_THAT(log.Lines(), ElementsAre("", "Port nie połączony", "Port nie połączony"));
}

TEST_F(DeviceCommandTest, TextCommandHasNoLogLineOfItsOwn) {
  SendAndLog(port, log, TDeviceCommand::dcText);
  LogOutcome(log, TDeviceCommand::dcText, false);
  EXPECT_EQ(driver.sent, "\xFF\x07");
  EXPECT_THAT(log.Lines(), ElementsAre(""));
}

} // namespace
} // namespace kv58
