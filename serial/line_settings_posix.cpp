#include "serial/line_settings_posix.h"

#include <array>
#include <utility>

namespace kv58 {
namespace {

constexpr auto kSpeeds = std::to_array<std::pair<std::uint32_t, speed_t>>({
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
});

constexpr tcflag_t kStickParity =
#ifdef CMSPAR
    CMSPAR;
#else
    0;
#endif

std::optional<tcflag_t> SizeFlag(std::uint8_t byteSize) {
  switch (byteSize) {
  case 5:
    return CS5;
  case 6:
    return CS6;
  case 7:
    return CS7;
  case 8:
    return CS8;
  default:
    return std::nullopt;
  }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
  case CS5:
    return 5;
  case CS6:
    return 6;
  case CS7:
    return 7;
  default:
    return 8;
  }
}

std::optional<tcflag_t> ParityFlags(std::uint8_t parity) {
  switch (parity) {
  case NOPARITY:
    return tcflag_t{0};
  case ODDPARITY:
    return tcflag_t{PARENB | PARODD};
  case EVENPARITY:
    return tcflag_t{PARENB};
  case MARKPARITY:
  case SPACEPARITY:
    if (kStickParity == 0) {
      return std::nullopt;
    }
    // Stick parity: the parity bit is always PARODD's value.
    return tcflag_t{PARENB | kStickParity | (parity == MARKPARITY ? tcflag_t{PARODD} : tcflag_t{0})};
  default:
    return std::nullopt;
  }
}

std::uint8_t ParityOf(tcflag_t cflag) {
  if ((cflag & PARENB) == 0) {
    return NOPARITY;
  }
  if (kStickParity != 0 && (cflag & kStickParity) != 0) {
    return (cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
  }
  return (cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
}

// A UART sends 1.5 stop bits when asked for two with five data bits; other mixes do not exist.
std::optional<tcflag_t> StopBitsFlag(std::uint8_t stopBits, std::uint8_t byteSize) {
  switch (stopBits) {
  case ONESTOPBIT:
    return tcflag_t{0};
  case ONE5STOPBITS:
    return byteSize == 5 ? std::optional<tcflag_t>{CSTOPB} : std::nullopt;
  case TWOSTOPBITS:
    return byteSize != 5 ? std::optional<tcflag_t>{CSTOPB} : std::nullopt;
  default:
    return std::nullopt;
  }
}

std::uint8_t StopBitsOf(tcflag_t cflag) {
  if ((cflag & CSTOPB) == 0) {
    return ONESTOPBIT;
  }
  return ByteSizeOf(cflag) == 5 ? ONE5STOPBITS : TWOSTOPBITS;
}

// What POSIX lines cannot do: DSR flow control and gating, dropping zero bytes, DTR
// handshake and RTS toggling. Refused rather than silently ignored.
bool AsksForTheUnsupported(const DCB& dcb) {
  return dcb.fOutxDsrFlow != 0 || dcb.fDsrSensitivity != 0 || dcb.fNull != 0 ||
         dcb.fDtrControl > DTR_CONTROL_ENABLE || dcb.fRtsControl > RTS_CONTROL_HANDSHAKE;
}

bool UsesSoftwareFlowControl(const DCB& dcb) { return dcb.fOutX != 0 || dcb.fInX != 0; }

void MakeRaw(termios& attributes) {
  attributes.c_iflag &= ~tcflag_t{IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                                  IXON | IXOFF | IXANY};
  attributes.c_oflag &= ~tcflag_t{OPOST};
  attributes.c_lflag &= ~tcflag_t{ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN};
  // HUPCL off: closing the port must not drop the modem lines behind the device's back.
  attributes.c_cflag &= ~tcflag_t{CSIZE | PARENB | PARODD | kStickParity | CSTOPB | CRTSCTS | HUPCL};
  attributes.c_cflag |= tcflag_t{CREAD | CLOCAL};
  // With the descriptor non-blocking, a read returns at once with what is queued.
  attributes.c_cc[VMIN] = 0;
  attributes.c_cc[VTIME] = 0;
}

} // namespace

std::optional<speed_t> SpeedConstantOfRate(std::uint32_t rate) {
  for (const auto& [bitsPerSecond, speed] : kSpeeds) {
    if (bitsPerSecond == rate) {
      return speed;
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> RateOfSpeedConstant(speed_t speed) {
  for (const auto& [bitsPerSecond, constant] : kSpeeds) {
    if (constant == speed) {
      return bitsPerSecond;
    }
  }
  return std::nullopt;
}

std::optional<LineSettings> BuildLineSettings(const DCB& dcb, const termios& current) {
  const auto size = SizeFlag(dcb.ByteSize);
  const auto parity = ParityFlags(dcb.Parity);
  const auto stopBits = StopBitsFlag(dcb.StopBits, dcb.ByteSize);
  if (dcb.BaudRate == 0 || !size || !parity || !stopBits || AsksForTheUnsupported(dcb)) {
    return std::nullopt;
  }
  if (UsesSoftwareFlowControl(dcb) && dcb.XonChar == dcb.XoffChar) {
    return std::nullopt;
  }

  LineSettings settings{current, dcb.BaudRate};
  termios& attributes = settings.attributes;
  MakeRaw(attributes);
  attributes.c_cflag |= *size | *parity | *stopBits;
  if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    attributes.c_cflag |= tcflag_t{CRTSCTS};
  }
  if (dcb.fParity != 0 && dcb.Parity != NOPARITY) {
    attributes.c_iflag |= tcflag_t{INPCK};
  }
  if (dcb.fOutX != 0) {
    attributes.c_iflag |= tcflag_t{IXON};
  }
  if (dcb.fInX != 0) {
    attributes.c_iflag |= tcflag_t{IXOFF};
  }
  if (UsesSoftwareFlowControl(dcb)) {
    attributes.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    attributes.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  }
  return settings;
}

void ReadLineSettings(const termios& attributes, std::uint32_t rate, DCB& dcb) {
  const tcflag_t cflag = attributes.c_cflag;
  dcb.BaudRate = rate;
  dcb.ByteSize = ByteSizeOf(cflag);
  dcb.Parity = ParityOf(cflag);
  dcb.StopBits = StopBitsOf(cflag);
  dcb.fBinary = 1;
  dcb.fParity = (attributes.c_iflag & INPCK) != 0 ? 1u : 0u;
  dcb.fOutxCtsFlow = (cflag & CRTSCTS) != 0 ? 1u : 0u;
  if (dcb.fOutxCtsFlow != 0) {
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE; // the kernel drives RTS along with CTS
  }
  dcb.fOutxDsrFlow = 0;
  dcb.fDsrSensitivity = 0;
  dcb.fNull = 0;
  dcb.fOutX = (attributes.c_iflag & IXON) != 0 ? 1u : 0u;
  dcb.fInX = (attributes.c_iflag & IXOFF) != 0 ? 1u : 0u;
  dcb.XonChar = static_cast<char>(attributes.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(attributes.c_cc[VSTOP]);
}

bool SameFraming(const DCB& first, const DCB& second) {
  return first.BaudRate == second.BaudRate && first.ByteSize == second.ByteSize &&
         first.Parity == second.Parity && first.StopBits == second.StopBits;
}

} // namespace kv58
