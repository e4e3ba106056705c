#include "serial/line_settings_posix.h"

#include <functional>
#include <gtest/gtest.h>

namespace kv58 {
namespace {

// The line settings the connect workflow writes.
DCB ConnectSettings() {
  DCB dcb;
  dcb.BaudRate = 500000;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

// A tty as it comes: cooked, echoing, hanging up on close.
termios CookedTty() {
  termios tty{};
  tty.c_iflag = ICRNL | IXON | IXANY | IMAXBEL;
  tty.c_oflag = OPOST | ONLCR;
  tty.c_cflag = CS7 | PARENB | CREAD | HUPCL;
  tty.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  tty.c_cc[VMIN] = 1;
  tty.c_cc[VSTART] = 0x11;
  tty.c_cc[VSTOP] = 0x13;
  tty.c_cc[VEOF] = 4;
  return tty;
}

TEST(LineSettings, TheConnectSettingsGiveARawEightBitLine) {
  const auto settings = BuildLineSettings(ConnectSettings(), CookedTty());
  ASSERT_TRUE(settings.has_value());
  const termios& tty = settings->attributes;
  EXPECT_EQ(settings->rate, 500000u);
  EXPECT_EQ(tty.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_EQ(tty.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u)
      << "no parity, one stop bit, no hang-up on close";
  EXPECT_EQ(tty.c_cflag & (CREAD | CLOCAL), tcflag_t{CREAD | CLOCAL});
  EXPECT_EQ(tty.c_iflag & (ICRNL | IXON | IXOFF | IXANY | INPCK | ISTRIP), 0u) << "bytes pass unchanged";
  EXPECT_EQ(tty.c_oflag & OPOST, 0u);
  EXPECT_EQ(tty.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tty.c_cc[VMIN], 0);
  EXPECT_EQ(tty.c_cc[VTIME], 0);
  EXPECT_EQ(tty.c_cc[VEOF], 4) << "what the DCB has no say in stays as the tty had it";
}

struct RefusedCase {
  const char* label;
  std::function<void(DCB&)> change;
};

class RefusedSettingsTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSettingsTest, ASettingTheLineCannotCarryIsRefused) {
  DCB dcb = ConnectSettings();
  ASSERT_TRUE(BuildLineSettings(dcb, CookedTty()).has_value());
  GetParam().change(dcb);
  EXPECT_FALSE(BuildLineSettings(dcb, CookedTty()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Members, RefusedSettingsTest,
    ::testing::Values(RefusedCase{"RateZero", [](DCB& d) { d.BaudRate = 0; }},
                      RefusedCase{"FourDataBits", [](DCB& d) { d.ByteSize = 4; }},
                      RefusedCase{"NineDataBits", [](DCB& d) { d.ByteSize = 9; }},
                      RefusedCase{"UnknownParity", [](DCB& d) { d.Parity = 5; }},
                      RefusedCase{"UnknownStopBits", [](DCB& d) { d.StopBits = 3; }},
                      RefusedCase{"OneAndAHalfStopBitsWithEightDataBits",
                                  [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
                      RefusedCase{"TwoStopBitsWithFiveDataBits",
                                  [](DCB& d) {
                                    d.ByteSize = 5;
                                    d.StopBits = TWOSTOPBITS;
                                  }},
                      RefusedCase{"DsrFlowControl", [](DCB& d) { d.fOutxDsrFlow = 1; }},
                      RefusedCase{"DsrSensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }},
                      RefusedCase{"DiscardingZeroBytes", [](DCB& d) { d.fNull = 1; }},
                      RefusedCase{"DtrHandshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }},
                      RefusedCase{"RtsToggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }},
                      RefusedCase{"XonEqualsXoff",
                                  [](DCB& d) {
                                    d.fOutX = 1;
                                    d.XoffChar = d.XonChar;
                                  }}),
    [](const auto& row) { return std::string(row.param.label); });

struct FramingCase {
  const char* label;
  std::uint8_t byteSize;
  std::uint8_t parity;
  std::uint8_t stopBits;
};

class FramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(FramingTest, ReadsBackAsWritten) {
  const auto& c = GetParam();
  DCB written = ConnectSettings();
  written.ByteSize = c.byteSize;
  written.Parity = c.parity;
  written.StopBits = c.stopBits;
  const auto settings = BuildLineSettings(written, CookedTty());
  ASSERT_TRUE(settings.has_value());

  DCB read;
  ReadLineSettings(settings->attributes, settings->rate, read);
  EXPECT_TRUE(SameFraming(read, written));
  EXPECT_EQ(read.ByteSize, c.byteSize);
  EXPECT_EQ(read.Parity, c.parity);
  EXPECT_EQ(read.StopBits, c.stopBits);
}

const FramingCase kFramings[] = {
    {"EightNoneOne", 8, NOPARITY, ONESTOPBIT},          {"SevenEvenOne", 7, EVENPARITY, ONESTOPBIT},
    {"SevenOddTwo", 7, ODDPARITY, TWOSTOPBITS},         {"SixNoneTwo", 6, NOPARITY, TWOSTOPBITS},
    {"FiveNoneOneAndAHalf", 5, NOPARITY, ONE5STOPBITS}, {"EightEvenOne", 8, EVENPARITY, ONESTOPBIT},
#ifdef CMSPAR
    {"EightMarkOne", 8, MARKPARITY, ONESTOPBIT},        {"EightSpaceOne", 8, SPACEPARITY, ONESTOPBIT},
#endif
};

INSTANTIATE_TEST_SUITE_P(Framings, FramingTest, ::testing::ValuesIn(kFramings),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(LineSettings, FlowControlMapsBothWays) {
  DCB written = ConnectSettings();
  written.fOutxCtsFlow = 1;
  written.fOutX = 1;
  written.XonChar = 0x01;
  written.XoffChar = 0x02;
  const auto settings = BuildLineSettings(written, CookedTty());
  ASSERT_TRUE(settings.has_value());
  EXPECT_NE(settings->attributes.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(settings->attributes.c_iflag & IXON, 0u);
  EXPECT_EQ(settings->attributes.c_iflag & IXOFF, 0u);

  DCB read;
  ReadLineSettings(settings->attributes, settings->rate, read);
  EXPECT_EQ(read.fOutxCtsFlow, 1u);
  EXPECT_EQ(read.fRtsControl, RTS_CONTROL_HANDSHAKE) << "the kernel drives RTS along with CTS";
  EXPECT_EQ(read.fOutX, 1u);
  EXPECT_EQ(read.fInX, 0u);
  EXPECT_EQ(read.XonChar, 0x01);
  EXPECT_EQ(read.XoffChar, 0x02);
}

TEST(LineSettings, RtsHandshakeAloneAlsoTurnsOnHardwareFlowControl) {
  DCB written = ConnectSettings();
  written.fRtsControl = RTS_CONTROL_HANDSHAKE;
  const auto settings = BuildLineSettings(written, CookedTty());
  ASSERT_TRUE(settings.has_value());
  EXPECT_NE(settings->attributes.c_cflag & CRTSCTS, 0u);
}

TEST(LineSettings, ReadingKeepsTheMembersATermiosCannotTell) {
  DCB dcb;
  dcb.DCBlength = 28;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.EofChar = 0x1A;
  dcb.ErrorChar = '?';
  dcb.EvtChar = '\n';
  dcb.fTXContinueOnXoff = 1;
  dcb.fAbortOnError = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  const DCB before = dcb;

  ReadLineSettings(CookedTty(), 9600, dcb);

  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fOutX, 1u);
  DCB untouched = dcb;
  untouched.BaudRate = before.BaudRate;
  untouched.ByteSize = before.ByteSize;
  untouched.Parity = before.Parity;
  untouched.fBinary = before.fBinary;
  untouched.fOutX = before.fOutX;
  untouched.XonChar = before.XonChar;
  untouched.XoffChar = before.XoffChar;
  EXPECT_EQ(untouched, before) << "only the members a termios tells are read";
}

TEST(LineSettings, RatesWithAndWithoutASpeedConstant) {
  EXPECT_EQ(SpeedConstantOfRate(9600), speed_t{B9600});
  EXPECT_EQ(SpeedConstantOfRate(115200), speed_t{B115200});
  EXPECT_EQ(RateOfSpeedConstant(B115200), 115200u);
#ifdef B500000
  EXPECT_EQ(SpeedConstantOfRate(500000), speed_t{B500000});
  EXPECT_EQ(RateOfSpeedConstant(B500000), 500000u);
#endif
  EXPECT_EQ(SpeedConstantOfRate(250000), std::nullopt);
  EXPECT_EQ(SpeedConstantOfRate(0), std::nullopt) << "B0 hangs the line up; it is no rate";
  EXPECT_EQ(RateOfSpeedConstant(B0), std::nullopt);
}

} // namespace
} // namespace kv58
