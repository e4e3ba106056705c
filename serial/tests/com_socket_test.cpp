#include "serial/com_socket.h"

#include <array>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "serial/testing/fake_serial_driver.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using testing::FakeSerialDriver;

class ComSocketTest : public ::testing::Test {
protected:
  FakeSerialDriver driver;
  TCOMSocket port{driver};

  void OpenAs(std::string_view name) {
    ASSERT_TRUE(port.SetPortName(name));
    ASSERT_TRUE(port.Open());
  }
};

struct PortNameCase {
  const char* label;
  std::string_view name;
  bool accepted;
  std::int32_t number; // PortNumber afterwards; -1 stands for "unchanged from 5"
};

class SetPortNameTest : public ComSocketTest, public ::testing::WithParamInterface<PortNameCase> {};

TEST_P(SetPortNameTest, ParsesTheNumberAfterCapitalCom) {
  const auto& c = GetParam();
  ASSERT_TRUE(port.SetPortName("COM5"));
  EXPECT_EQ(port.SetPortName(c.name), c.accepted);
  EXPECT_EQ(port.GetPortNumber(), c.number == -1 ? 5 : c.number);
  EXPECT_TRUE(driver.calls.empty()) << "naming a port touches no device";
}

INSTANTIATE_TEST_SUITE_P(
    Names, SetPortNameTest,
    ::testing::Values(
        PortNameCase{"Com3", "COM3", true, 3}, PortNameCase{"Com10", "COM10", true, 10},
        PortNameCase{"SmallLetters", "com3", false, -1}, PortNameCase{"OtherDevice", "LPT1", false, -1},
        PortNameCase{"TooShort", "CO", false, -1}, PortNameCase{"Empty", "", false, -1},
        PortNameCase{"ComAlone", "COM", false, 0}, PortNameCase{"ComLetter", "COMX", false, 0},
        PortNameCase{"ComZero", "COM0", false, 0}, PortNameCase{"BlankBeforeNumber", "COM 7", true, 7},
        PortNameCase{"BlankAfterNumber", "COM7 ", false, 0}, PortNameCase{"LeadingZero", "COM03", true, 3},
        PortNameCase{"Negative", "COM-2", true, -2}, PortNameCase{"Hexadecimal", "COM$10", true, 16}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(ComSocketTest, SetPortNameIsRefusedWhileOpen) {
  OpenAs("COM3");
  EXPECT_FALSE(port.SetPortName("COM4"));
  EXPECT_EQ(port.GetPortNumber(), 3);
}

TEST_F(ComSocketTest, OpenHandsTheDriverComAndTheNumberInDecimal) {
  for (const auto& [name, path] : std::array<std::pair<std::string_view, std::string_view>, 4>{
           {{"COM12", "COM12"}, {"COM03", "COM3"}, {"COM-2", "COM-2"}, {"COM$10", "COM16"}}}) {
    driver.ClearRecord();
    ASSERT_TRUE(port.SetPortName(name));
    EXPECT_TRUE(port.Open());
    ASSERT_EQ(driver.CountOf("CreateFileA"), 1u);
    EXPECT_EQ(driver.calls.back().text, path);
    ASSERT_TRUE(port.Close());
  }
}

TEST_F(ComSocketTest, OpenClosesTheHeldHandleFirstAndEndsClosedWhenTheDeviceIsGone) {
  OpenAs("COM3");
  const PortHandle first = port.GetHandle();
  driver.ClearRecord();
  driver.absentPorts.insert("COM3");

  EXPECT_FALSE(port.Open());

  EXPECT_THAT(driver.CallNames(), ElementsAre("CloseHandle", "CreateFileA"));
  EXPECT_EQ(driver.calls.front().handle, first);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.GetHandle(), 0u);
}

TEST_F(ComSocketTest, OpenReplacesAHandleThatWouldNotClose) {
  OpenAs("COM3");
  driver.failing.insert("CloseHandle");
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.GetHandle(), 2u);
}

TEST_F(ComSocketTest, ClosedChannelMakesNoDriverCallAndReportsFailure) {
  std::array<char, 16> buffer{};
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.ReadSettings());
  EXPECT_FALSE(port.WriteSettings());
  EXPECT_FALSE(port.WriteTimeouts());
  EXPECT_FALSE(port.WriteQueueSizes());
  EXPECT_EQ(port.BytesWaiting(), 0u);
  EXPECT_EQ(port.Read(buffer.data(), buffer.size()), 0u);
  EXPECT_EQ(port.Write("x", 1), 0u);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(ComSocketTest, FailedCloseKeepsTheChannelOpen) {
  OpenAs("COM3");
  driver.failing.insert("CloseHandle");
  EXPECT_FALSE(port.Close());
  EXPECT_TRUE(port.IsOpen());
  driver.failing.clear();
}

TEST_F(ComSocketTest, SettingsCallsPassTheMembersThrough) {
  OpenAs("COM3");
  driver.reportedDcb.BaudRate = 9600;
  driver.reportedDcb.XonChar = 0x11;
  ASSERT_TRUE(port.ReadSettings());
  EXPECT_EQ(port.Dcb.XonChar, 0x11);

  port.Dcb.BaudRate = 115200;
  port.Timeouts.ReadIntervalTimeout = 100;
  port.InQueueSize = 1024;
  port.OutQueueSize = 2048;
  EXPECT_TRUE(port.WriteSettings());
  EXPECT_TRUE(port.WriteTimeouts());
  EXPECT_TRUE(port.WriteQueueSizes());

  EXPECT_EQ(driver.lastDcb->BaudRate, 115200u);
  EXPECT_EQ(driver.lastDcb->XonChar, 0x11) << "members the owner does not write keep what was read";
  EXPECT_EQ(driver.lastTimeouts->ReadIntervalTimeout, 100u);
  EXPECT_EQ(driver.lastQueueSizes, (std::pair<std::uint32_t, std::uint32_t>{1024, 2048}));
}

TEST_F(ComSocketTest, DriverFailuresComeBackAsFalse) {
  OpenAs("COM3");
  driver.failing = {"GetCommState", "SetCommState", "SetCommTimeouts", "SetupComm"};
  EXPECT_FALSE(port.ReadSettings());
  EXPECT_FALSE(port.WriteSettings());
  EXPECT_FALSE(port.WriteTimeouts());
  EXPECT_FALSE(port.WriteQueueSizes());
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(ComSocketTest, DcbSurvivesCloseAndReopen) {
  OpenAs("COM3");
  port.Dcb.BaudRate = 19200;
  port.Dcb.ByteSize = 8;
  ASSERT_TRUE(port.Close());
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.Dcb.BaudRate, 19200u);
  EXPECT_EQ(port.Dcb.ByteSize, 8);
}

struct ReadCase {
  const char* label;
  std::size_t queued;
  std::uint32_t capacity;
  std::uint32_t askedOfReadFile; // 0: ReadFile is not called
};

class ReadTest : public ComSocketTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, AsksOnlyForWhatIsQueuedAndFits) {
  const auto& c = GetParam();
  OpenAs("COM3");
  driver.incoming.assign(c.queued, 'a');
  driver.ClearRecord();
  std::vector<char> buffer(std::max<std::uint32_t>(c.capacity, 1));

  const auto read = port.Read(buffer.data(), c.capacity);

  EXPECT_EQ(read, c.askedOfReadFile);
  EXPECT_EQ(driver.CountOf("ReadFile"), c.askedOfReadFile == 0 ? 0u : 1u);
  if (c.askedOfReadFile != 0) {
    EXPECT_EQ(driver.calls.back().count, c.askedOfReadFile);
  }
}

INSTANTIATE_TEST_SUITE_P(Queue, ReadTest,
                         ::testing::Values(ReadCase{"FewQueued", 5, 1024, 5},
                                           ReadCase{"MoreThanCapacity", 3000, 1024, 1024},
                                           ReadCase{"NothingQueued", 0, 1024, 0},
                                           ReadCase{"ZeroCapacity", 5, 0, 0}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST_F(ComSocketTest, ReadWithoutBufferReturnsZeroWithoutCallingTheDriver) {
  OpenAs("COM3");
  driver.incoming = "abc";
  driver.ClearRecord();
  EXPECT_EQ(port.Read(nullptr, 16), 0u);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(ComSocketTest, BytesWaitingIsZeroWhenTheStatusCannotBeRead) {
  OpenAs("COM3");
  driver.incoming = "abc";
  EXPECT_EQ(port.BytesWaiting(), 3u);
  driver.failing.insert("ClearCommError");
  EXPECT_EQ(port.BytesWaiting(), 0u);
}

TEST_F(ComSocketTest, ReadFailureGivesZero) {
  OpenAs("COM3");
  driver.incoming = "abc";
  driver.failing.insert("ReadFile");
  std::array<char, 8> buffer{};
  EXPECT_EQ(port.Read(buffer.data(), buffer.size()), 0u);
}

TEST_F(ComSocketTest, WriteReportsWhatTheDriverTook) {
  OpenAs("COM3");
  driver.ClearRecord();
  EXPECT_EQ(port.Write("", 0), 0u);
  EXPECT_EQ(port.Write(nullptr, 3), 0u);
  EXPECT_TRUE(driver.calls.empty()) << "nothing is sent for no bytes";

  EXPECT_EQ(port.Write("abc", 3), 3u);
  driver.acceptPerWrite = 2;
  EXPECT_EQ(port.Write("def", 3), 2u);
  driver.failing.insert("WriteFile");
  EXPECT_EQ(port.Write("ghi", 3), 0u);
  EXPECT_EQ(driver.sent, "abcde");
}

TEST(ComSocketLifetime, DestroyingClosesAnOpenPortAndTouchesNothingWhenClosed) {
  testing::FakeSerialDriver driver;
  { TCOMSocket closed(driver); }
  EXPECT_TRUE(driver.calls.empty());
  {
    TCOMSocket open(driver);
    ASSERT_TRUE(open.SetPortName("COM1"));
    ASSERT_TRUE(open.Open());
  }
  EXPECT_EQ(driver.calls.back().function, "CloseHandle");
  EXPECT_TRUE(driver.openHandles.empty());
}

} // namespace
} // namespace kv58
