#include "protocol/line_settings.h"
#include "serial/serial_driver_posix.h"

#include <array>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/testing/scratch_dir.h"
#include "serial/com_socket.h"
#include "serial/tests/test_support_posix.h"

namespace kv58 {
namespace {

using testing::Eventually;
using testing::PseudoTerminal;
using testing::ScratchDir;

std::string EveryByteValue() {
  std::string bytes(256, '\0');
  std::iota(bytes.begin(), bytes.end(), '\0');
  return bytes;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return bytes;
}

// The driver on a pseudo-terminal linked into a temporary port map as COM200; the test holds
// the far end, as the device would.
class PosixDriverTest : public ::testing::Test {
protected:
  ScratchDir map;
  ScratchDir devices;
  PseudoTerminal line;
  PosixSerialDriver driver{PortLocations{map.Path(), devices.Path()}};
  TCOMSocket port{driver};

  void SetUp() override { map.Link("COM200", line.SlavePath()); }

  // The steps and values of the connect workflow.
  void Connect(std::uint32_t rate = 500000) {
    ASSERT_TRUE(port.SetPortName("COM200"));
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.ReadSettings());
    SetDeviceLineSettings(port, static_cast<std::int32_t>(rate));
    ASSERT_TRUE(port.WriteSettings());
    ASSERT_TRUE(port.WriteQueueSizes());
    ASSERT_TRUE(port.WriteTimeouts());
    ASSERT_TRUE(port.ReadSettings());
  }

  // Waits until the port has `count` bytes queued.
  [[nodiscard]] bool Queued(std::uint32_t count) {
    return Eventually([&] { return port.BytesWaiting() >= count; });
  }
};

TEST_F(PosixDriverTest, TheConnectSettingsReadBackAsWritten) {
  Connect();
  EXPECT_EQ(port.Dcb.BaudRate, 500000u);
  EXPECT_EQ(port.Dcb.ByteSize, 8);
  EXPECT_EQ(port.Dcb.Parity, NOPARITY);
  EXPECT_EQ(port.Dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(port.Dcb.fBinary, 1u);
  EXPECT_EQ(port.Dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(port.Dcb.fOutX, 0u);
  EXPECT_EQ(port.Dcb.fInX, 0u);
  EXPECT_EQ(port.Dcb.fDtrControl, DTR_CONTROL_DISABLE) << "a pseudo-terminal has no modem lines to report";
}

class LineRateTest : public PosixDriverTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(LineRateTest, IsAppliedAndReadBack) {
  Connect(9600);
  port.Dcb.BaudRate = GetParam();
  ASSERT_TRUE(port.WriteSettings());
  port.Dcb.BaudRate = 0;
  ASSERT_TRUE(port.ReadSettings());
  EXPECT_EQ(port.Dcb.BaudRate, GetParam());
}

// 250000 and 1234567 have no speed constant and go through the kernel's custom rate.
const std::uint32_t kRates[] = {115200, 500000, 9600, 921600,
#if defined(__linux__)
                                250000, 1234567
#endif
};

INSTANTIATE_TEST_SUITE_P(Rates, LineRateTest, ::testing::ValuesIn(kRates));

TEST_F(PosixDriverTest, TwoStopBitsReadBack) {
  Connect();
  port.Dcb.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(port.WriteSettings());
  port.Dcb.StopBits = ONESTOPBIT;
  ASSERT_TRUE(port.ReadSettings());
  EXPECT_EQ(port.Dcb.StopBits, TWOSTOPBITS);
}

TEST_F(PosixDriverTest, ASettingTheLineDoesNotKeepFailsWriteSettings) {
  Connect(115200);
  // A pseudo-terminal always carries eight data bits without parity.
  port.Dcb.ByteSize = 7;
  port.Dcb.Parity = EVENPARITY;
  EXPECT_FALSE(port.WriteSettings());
}

TEST_F(PosixDriverTest, ARefusedSettingLeavesTheLineAsItWas) {
  Connect(115200);
  port.Dcb.BaudRate = 0;
  EXPECT_FALSE(port.WriteSettings());
  port.Dcb.BaudRate = 19200;
  port.Dcb.fOutxDsrFlow = 1;
  EXPECT_FALSE(port.WriteSettings());
  ASSERT_TRUE(port.ReadSettings());
  EXPECT_EQ(port.Dcb.BaudRate, 115200u);
}

TEST_F(PosixDriverTest, ModemLinesThatAPseudoTerminalLacksAreNoFailure) {
  Connect();
  port.Dcb.fDtrControl = DTR_CONTROL_ENABLE;
  port.Dcb.fRtsControl = RTS_CONTROL_ENABLE;
  EXPECT_TRUE(port.WriteSettings());
}

TEST_F(PosixDriverTest, AWriteArrivesAtTheFarEndByteForByte) {
  Connect();
  const auto bytes = EveryByteValue();
  ASSERT_EQ(port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size())), bytes.size());
  EXPECT_EQ(line.Receive(bytes.size()), bytes);
}

TEST_F(PosixDriverTest, BytesFromTheFarEndAreCountedAndRead) {
  Connect();
  const auto bytes = EveryByteValue();
  line.Send(bytes);
  ASSERT_TRUE(Queued(256));
  EXPECT_EQ(port.BytesWaiting(), 256u);

  std::string buffer(1024, '\0');
  const auto read = port.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  ASSERT_EQ(read, 256u);
  EXPECT_EQ(buffer.substr(0, read), bytes);
  EXPECT_EQ(port.BytesWaiting(), 0u);
}

TEST_F(PosixDriverTest, ReadTakesNoMoreThanTheCapacityAndLeavesTheRestQueued) {
  Connect();
  line.Send("0123456789");
  ASSERT_TRUE(Queued(10));
  std::string buffer(4, '\0');
  ASSERT_EQ(port.Read(buffer.data(), 4), 4u);
  EXPECT_EQ(buffer, "0123");
  EXPECT_EQ(port.BytesWaiting(), 6u);
  std::string rest(16, '\0');
  ASSERT_EQ(port.Read(rest.data(), 16), 6u);
  EXPECT_EQ(rest.substr(0, 6), "456789");
}

TEST_F(PosixDriverTest, ReadWithNothingQueuedReturnsAtOnceWithNothing) {
  Connect();
  std::array<char, 16> buffer{};
  EXPECT_EQ(port.Read(buffer.data(), buffer.size()), 0u);
  std::uint32_t read = 99;
  EXPECT_TRUE(driver.ReadFile(port.GetHandle(), buffer.data(), 16, read))
      << "the driver does not wait either";
  EXPECT_EQ(read, 0u);
}

TEST_F(PosixDriverTest, ASecondOpenFailsWhileTheFirstHoldsThePort) {
  Connect();
  TCOMSocket second(driver);
  ASSERT_TRUE(second.SetPortName("COM200"));
  EXPECT_FALSE(second.Open());
  EXPECT_EQ(second.LastOpenFailure().kind, OpenFailure::Kind::InUse);

  PosixSerialDriver otherDriver(PortLocations{map.Path(), devices.Path()});
  TCOMSocket third(otherDriver);
  ASSERT_TRUE(third.SetPortName("COM200"));
  EXPECT_FALSE(third.Open()) << "the lock holds against root and other programs too";

  ASSERT_TRUE(port.Close());
  EXPECT_TRUE(third.Open()) << "closing lets go of the port";
}

TEST_F(PosixDriverTest, AfterTheFarEndHangsUpNothingIsWaitingAndWritesFail) {
  Connect();
  line.Send("xy");
  ASSERT_TRUE(Queued(2));
  line.HangUp();

  EXPECT_EQ(port.BytesWaiting(), 0u);
  EXPECT_EQ(port.Write("abc", 3), 0u);
  const std::string large = Pattern(100000);
  port.Timeouts = COMMTIMEOUTS{};
  ASSERT_TRUE(port.WriteTimeouts());
  EXPECT_EQ(port.Write(large.data(), static_cast<std::uint32_t>(large.size())), 0u)
      << "returns even without a write time-out";
  EXPECT_TRUE(port.Close());
}

TEST_F(PosixDriverTest, AWriteThatRunsIntoTheTimeOutReturnsWhatWasTaken) {
  Connect();
  port.Timeouts.WriteTotalTimeoutMultiplier = 0;
  port.Timeouts.WriteTotalTimeoutConstant = 50;
  ASSERT_TRUE(port.WriteTimeouts());
  // Far more than the pseudo-terminal buffers while nobody reads the far end.
  const std::string bytes = Pattern(4 * 1024 * 1024);

  const auto written = port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));

  EXPECT_GT(written, 0u);
  EXPECT_LT(written, bytes.size());
  EXPECT_EQ(line.Receive(written), bytes.substr(0, written)) << "what was taken arrives";
}

TEST_F(PosixDriverTest, WithoutAWriteTimeOutAWriteWaitsUntilEverythingIsTaken) {
  Connect();
  port.Timeouts.WriteTotalTimeoutMultiplier = 0;
  port.Timeouts.WriteTotalTimeoutConstant = 0;
  ASSERT_TRUE(port.WriteTimeouts());
  const std::string bytes = Pattern(1024 * 1024);
  std::string received;
  std::thread device([&] { received = line.Receive(bytes.size()); });

  const auto written = port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  device.join();

  EXPECT_EQ(written, bytes.size());
  EXPECT_EQ(received, bytes);
}

TEST_F(PosixDriverTest, NamesThatMapToNoTerminalDoNotOpen) {
  map.Link("COM201", devices.Touch("plain-file"));
  map.Link("COM202", devices / "unplugged");
  devices.Touch("ttyS3"); // COM4 by the fixed rule, but not a terminal
  using Kind = OpenFailure::Kind;
  const std::pair<const char*, Kind> cases[] = {{"COM201", Kind::NotSerial},
                                                {"COM202", Kind::Missing},
                                                {"COM4", Kind::NotSerial},
                                                {"COM129", Kind::NoSuchPort},
                                                {"COM-2", Kind::NoSuchPort}};
  for (const auto& [name, reason] : cases) {
    TCOMSocket other(driver);
    ASSERT_TRUE(other.SetPortName(name));
    EXPECT_FALSE(other.Open()) << name;
    EXPECT_EQ(other.LastOpenFailure().kind, reason) << name;
  }
}

// The line's bytes leave the tty at its rate; a pseudo-terminal has no rate, so a probe
// stands in for the queue of a slow line.
class DrainedWriteTest : public PosixDriverTest {
protected:
  std::vector<std::uint32_t> queue; // what the probe reports, one value per question
  std::size_t asked = 0;
  PosixSerialDriver slowLine{PortLocations{map.Path(), devices.Path()}, [this](int) {
                               const std::size_t i = std::min(asked++, queue.size() - 1);
                               return std::optional<std::uint32_t>(queue[i]);
                             }};
  TCOMSocket slowPort{slowLine};

  void ConnectSlowLine(std::uint32_t timeoutMs) {
    ASSERT_TRUE(slowPort.SetPortName("COM200") && slowPort.Open());
    slowPort.Timeouts.WriteTotalTimeoutMultiplier = 0;
    slowPort.Timeouts.WriteTotalTimeoutConstant = timeoutMs;
    ASSERT_TRUE(slowPort.WriteTimeouts());
  }
};

TEST_F(DrainedWriteTest, AWriteReturnsAtOnceAndTheDrainOnceTheQueueIsEmpty) {
  queue = {200, 120, 40, 0};
  ConnectSlowLine(5000);
  EXPECT_EQ(slowPort.Write("page", 4), 4u);
  EXPECT_EQ(asked, 0u) << "a write does not wait for the line";
  EXPECT_TRUE(slowPort.Drain());
  EXPECT_EQ(asked, 4u) << "asked until the queue was empty, and no more";
}

TEST_F(DrainedWriteTest, ADrainGivesUpAtTheWriteTimeOut) {
  queue = {3};
  ConnectSlowLine(30);
  EXPECT_EQ(slowPort.Write("page", 4), 4u);
  EXPECT_FALSE(slowPort.Drain()) << "a line that does not move is not waited for without end";
  EXPECT_GT(asked, 1u);
}

TEST_F(PosixDriverTest, HandlesTheDriverDidNotGiveAreRefused) {
  DCB dcb;
  COMSTAT status;
  std::uint32_t count = 0;
  char byte = 0;
  for (const PortHandle handle : {PortHandle{0}, PortHandle{1}, PortHandle{12345}}) {
    EXPECT_FALSE(driver.CloseHandle(handle));
    EXPECT_FALSE(driver.GetCommState(handle, dcb));
    EXPECT_FALSE(driver.SetCommState(handle, dcb));
    EXPECT_FALSE(driver.SetCommTimeouts(handle, COMMTIMEOUTS{}));
    EXPECT_FALSE(driver.SetupComm(handle, 1024, 1024));
    EXPECT_FALSE(driver.ClearCommError(handle, count, status));
    EXPECT_FALSE(driver.ReadFile(handle, &byte, 1, count));
    EXPECT_FALSE(driver.WriteFile(handle, &byte, 1, count));
  }
}

TEST_F(PosixDriverTest, AClosedHandleIsNoLongerUsable) {
  Connect();
  const PortHandle handle = port.GetHandle();
  ASSERT_TRUE(port.Close());
  std::uint32_t written = 0;
  EXPECT_FALSE(driver.WriteFile(handle, "x", 1, written));
  EXPECT_FALSE(driver.CloseHandle(handle));
}

TEST_F(PosixDriverTest, DestroyingTheDriverReleasesThePortsItStillHolds) {
  {
    PosixSerialDriver shortLived(PortLocations{map.Path(), devices.Path()});
    ASSERT_NE(shortLived.CreateFileA("COM200"), 0u);
  }
  ASSERT_TRUE(port.SetPortName("COM200"));
  EXPECT_TRUE(port.Open());
}

} // namespace
} // namespace kv58
