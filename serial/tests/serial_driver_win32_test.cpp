#include "serial/serial_driver_win32.h"

#include <array>
#include <charconv>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "serial/com_socket.h"
#include "serial/tests/test_support_win32.h"

namespace kv58 {
namespace {

using testing::ConnectAsTheWindowDoes;
using testing::EnvironmentText;
using testing::HandleOf;
using testing::PeerPort;
using testing::WaitForQueued;

// --- the device path, without a device ---

struct DevicePathCase {
  const char* label;
  std::string_view portName;
  std::string_view path;
};

class DevicePathTest : public ::testing::TestWithParam<DevicePathCase> {};

TEST_P(DevicePathTest, NamesThePortInTheDeviceNamespace) {
  EXPECT_EQ(DevicePathForPort(GetParam().portName), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Names, DevicePathTest,
                         ::testing::Values(DevicePathCase{"OneDigit", "COM3", "\\\\.\\COM3"},
                                           DevicePathCase{"TwoDigits", "COM12", "\\\\.\\COM12"},
                                           DevicePathCase{"ThreeDigits", "COM256", "\\\\.\\COM256"},
                                           DevicePathCase{"Negative", "COM-2", "\\\\.\\COM-2"}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(Win32SerialDriverTest, APortThatIsNotMappedDoesNotOpen) {
  Win32SerialDriver driver;
  TCOMSocket port{driver};
  for (const std::string_view name : {"COM199", "COM-2"}) {
    ASSERT_TRUE(port.SetPortName(name));
    EXPECT_FALSE(port.Open()) << name;
    EXPECT_FALSE(port.IsOpen()) << name;
    EXPECT_EQ(port.GetHandle(), 0U) << name << ": the invalid handle is never kept";
  }
}

// --- a line whose far end the test holds: KV58_TEST_PORT and KV58_TEST_PEER_PORT ---

class Win32LineTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto name = EnvironmentText(testing::kPortVariable);
    const auto peerName = EnvironmentText(testing::kPeerPortVariable);
    if (!name || !peerName) {
      GTEST_SKIP() << testing::kPortVariable << " and " << testing::kPeerPortVariable
                   << " name no ports: set them to the two ends of a null-modem pair "
                      "(scripts/test-windows maps a pseudo-terminal pair under Wine)";
    }
    portName = *name;
    peer.emplace(*peerName);
    ASSERT_TRUE(peer->IsReady()) << "the far end " << *peerName << " cannot be opened";
  }

  void Connect() {
    const std::string failedStep = ConnectAsTheWindowDoes(port, portName, testing::kTestBaudRate);
    ASSERT_EQ(failedStep, "") << "connecting to " << portName;
    // A pseudo-terminal keeps what an earlier test left unread; a real port would not.
    ASSERT_NE(::PurgeComm(HandleOf(port), PURGE_RXCLEAR | PURGE_TXCLEAR), FALSE);
  }

  Win32SerialDriver driver;
  TCOMSocket port{driver};
  std::string portName;
  std::optional<PeerPort> peer;
};

TEST_F(Win32LineTest, ConnectSettingsAreWrittenAndReadBack) {
  Connect();

  EXPECT_EQ(port.Dcb.BaudRate, testing::kTestBaudRate);
  EXPECT_EQ(port.Dcb.ByteSize, 8);
  EXPECT_EQ(port.Dcb.Parity, NOPARITY);
  EXPECT_EQ(port.Dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(port.Dcb.fOutxCtsFlow, 0U);
  EXPECT_EQ(port.Dcb.fOutX, 0U);
  EXPECT_EQ(port.Dcb.fInX, 0U);
  EXPECT_EQ(port.Dcb.DCBlength, sizeof(::DCB));

  ::COMMTIMEOUTS timeouts{};
  ASSERT_NE(::GetCommTimeouts(HandleOf(port), &timeouts), FALSE);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 100U);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 10U);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 100U);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 10U);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 100U);
}

TEST_F(Win32LineTest, EveryTimeoutReachesItsOwnMember) {
  Connect();
  port.Timeouts = {11, 12, 13, 14, 15};
  ASSERT_TRUE(port.WriteTimeouts());

  ::COMMTIMEOUTS timeouts{};
  ASSERT_NE(::GetCommTimeouts(HandleOf(port), &timeouts), FALSE);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 11U);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 12U);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 13U);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 14U);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 15U);
}

struct LineSettingsCase {
  const char* label;
  std::uint32_t baudRate;
  std::uint8_t stopBits;
};

class Win32LineSettingsTest : public Win32LineTest, public ::testing::WithParamInterface<LineSettingsCase> {};

// A pseudo-terminal keeps the rate and the stop bits but always reports 8 data bits without
// parity, so those two stay at 8N here; the rows still tell Parity and StopBits apart.
TEST_P(Win32LineSettingsTest, SettingsReadBackAsWritten) {
  const auto& c = GetParam();
  Connect();
  port.Dcb.BaudRate = c.baudRate;
  port.Dcb.StopBits = c.stopBits;
  ASSERT_TRUE(port.WriteSettings());

  // Read through plain Win32 as well as through the driver, so a member copied into the
  // wrong place on one way is not undone on the other.
  ::DCB real{};
  real.DCBlength = sizeof(real);
  ASSERT_NE(::GetCommState(HandleOf(port), &real), FALSE);
  EXPECT_EQ(real.BaudRate, c.baudRate);
  EXPECT_EQ(real.ByteSize, 8);
  EXPECT_EQ(real.Parity, NOPARITY);
  EXPECT_EQ(real.StopBits, c.stopBits);

  port.Dcb = DCB{};
  ASSERT_TRUE(port.ReadSettings());
  EXPECT_EQ(port.Dcb.BaudRate, c.baudRate);
  EXPECT_EQ(port.Dcb.ByteSize, 8);
  EXPECT_EQ(port.Dcb.Parity, NOPARITY);
  EXPECT_EQ(port.Dcb.StopBits, c.stopBits);
}

INSTANTIATE_TEST_SUITE_P(Lines, Win32LineSettingsTest,
                         ::testing::Values(LineSettingsCase{"Fast1Stop", 115200, ONESTOPBIT},
                                           LineSettingsCase{"Slow2Stops", 9600, TWOSTOPBITS},
                                           LineSettingsCase{"Medium2Stops", 57600, TWOSTOPBITS},
                                           LineSettingsCase{"Slowest1Stop", 1200, ONESTOPBIT}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST_F(Win32LineTest, MembersTheOwnerLeavesKeepWhatTheDriverReported) {
  ASSERT_TRUE(port.SetPortName(portName));
  ASSERT_TRUE(port.Open());
  ASSERT_TRUE(port.ReadSettings());
  const DCB reported = port.Dcb;

  port.Dcb.BaudRate = reported.BaudRate == 9600 ? 19200 : 9600;
  ASSERT_TRUE(port.WriteSettings());
  ASSERT_TRUE(port.ReadSettings());

  DCB expected = reported;
  expected.BaudRate = port.Dcb.BaudRate;
  EXPECT_EQ(port.Dcb, expected) << "only the rate was changed";
}

TEST_F(Win32LineTest, AFlagThatDoesNotFitItsBitFieldIsRefused) {
  Connect();
  const DCB accepted = port.Dcb;
  port.Dcb.fDtrControl = 4; // two bits in the real DCB: would become DTR_CONTROL_DISABLE
  port.Dcb.BaudRate = 9600;
  EXPECT_FALSE(port.WriteSettings());

  ASSERT_TRUE(port.ReadSettings());
  EXPECT_EQ(port.Dcb.BaudRate, accepted.BaudRate) << "nothing of the refused settings reached the line";
}

TEST_F(Win32LineTest, AFrameReachesTheFarEndByteForByte) {
  Connect();
  const std::string frame = "\xFF\x03\x05";
  EXPECT_EQ(port.Write(frame.data(), static_cast<std::uint32_t>(frame.size())), frame.size());
  EXPECT_EQ(peer->Receive(frame.size()), frame);
}

TEST_F(Win32LineTest, EveryByteValuePassesUnchanged) {
  Connect();
  std::string everyByte(256, '\0');
  for (std::size_t value = 0; value < everyByte.size(); ++value) {
    everyByte[value] = static_cast<char>(value);
  }
  EXPECT_EQ(port.Write(everyByte.data(), static_cast<std::uint32_t>(everyByte.size())), everyByte.size());
  EXPECT_EQ(peer->Receive(everyByte.size()), everyByte)
      << "no byte is translated, dropped or taken as flow control";
}

TEST_F(Win32LineTest, BytesFromTheFarEndAreCountedAndRead) {
  Connect();
  const std::string answer = "\x06OK\r\n";
  ASSERT_TRUE(peer->Send(answer));

  EXPECT_EQ(WaitForQueued(port, 5), 5U);
  EXPECT_EQ(port.BytesWaiting(), 5U);
  EXPECT_EQ(port.GetStatus().cbInQue, 5U);

  std::array<char, 1024> buffer{};
  ASSERT_EQ(port.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size())), 5U);
  EXPECT_EQ(std::string(buffer.data(), 5), answer);
  EXPECT_EQ(port.BytesWaiting(), 0U);
}

TEST_F(Win32LineTest, ReadTakesNoMoreThanItsCapacity) {
  Connect();
  ASSERT_TRUE(peer->Send("0123456789"));
  ASSERT_EQ(WaitForQueued(port, 10), 10U);

  std::array<char, 4> small{};
  ASSERT_EQ(port.Read(small.data(), static_cast<std::uint32_t>(small.size())), 4U);
  EXPECT_EQ(std::string(small.data(), small.size()), "0123");
  EXPECT_EQ(port.BytesWaiting(), 6U);
}

TEST_F(Win32LineTest, ReadWithNothingQueuedGivesNothing) {
  Connect();
  std::array<char, 16> buffer{};
  EXPECT_EQ(port.BytesWaiting(), 0U);
  EXPECT_EQ(port.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size())), 0U);
}

TEST_F(Win32LineTest, AClosedPortOpensAgain) {
  Connect();
  ASSERT_TRUE(port.Close());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.Open());
  EXPECT_TRUE(port.ReadSettings());
}

TEST_F(Win32LineTest, ASecondOpenOfAnOpenPortFails) {
  if (testing::RunningUnderWine()) {
    GTEST_SKIP() << "Wine does not enforce share mode 0 on COM ports: a second open succeeds there. "
                    "This check runs on Windows.";
  }
  Connect();
  Win32SerialDriver other;
  const PortHandle second = other.CreateFileA(portName);
  EXPECT_EQ(second, 0U) << "the port is opened without sharing";
  if (second != 0) {
    (void)other.CloseHandle(second);
  }
}

// --- a line whose far end is the device simulator: KV58_TEST_SIM_PORT ---

// Pairs of hex digits, blanks, colons and commas between them allowed: "4f 4b 0d 0a".
std::optional<std::string> BytesFromHex(std::string_view hex) {
  std::string digits;
  for (const char c : hex) {
    if (c != ' ' && c != ':' && c != ',') {
      digits.push_back(c);
    }
  }
  if (digits.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string bytes;
  for (std::size_t at = 0; at < digits.size(); at += 2) {
    unsigned value = 0;
    const char* first = digits.data() + at;
    const auto [stop, error] = std::from_chars(first, first + 2, value, 16);
    if (error != std::errc() || stop != first + 2) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

TEST(Win32SimulatorTest, TheSimulatorAnswersAFrameItDecoded) {
  const auto name = EnvironmentText(testing::kSimPortVariable);
  const auto replyHex = EnvironmentText(testing::kSimReplyVariable);
  if (!name || !replyHex) {
    GTEST_SKIP() << testing::kSimPortVariable << " and " << testing::kSimReplyVariable
                 << " name no simulator: scripts/test-windows starts kv58-sim and maps it under Wine";
  }
  const auto reply = BytesFromHex(*replyHex);
  ASSERT_TRUE(reply && !reply->empty()) << testing::kSimReplyVariable << " is not hex bytes: " << *replyHex;

  Win32SerialDriver driver;
  TCOMSocket port{driver};
  ASSERT_EQ(ConnectAsTheWindowDoes(port, *name, testing::kTestBaudRate), "");
  // Speed 5: scripts/test-windows looks for exactly this frame in the simulator's log.
  const std::string frame = "\xFF\x03\x05";
  ASSERT_EQ(port.Write(frame.data(), static_cast<std::uint32_t>(frame.size())), frame.size());

  const auto replySize = static_cast<std::uint32_t>(reply->size());
  ASSERT_EQ(WaitForQueued(port, replySize), replySize) << "the simulator answers only frames it decoded";
  std::array<char, 1024> buffer{};
  ASSERT_EQ(port.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size())), replySize);
  EXPECT_EQ(std::string(buffer.data(), replySize), *reply);
}

} // namespace
} // namespace kv58
