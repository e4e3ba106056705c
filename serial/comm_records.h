#pragma once
// The records of the Win32 serial interface, as our own structs with the same member names
// on every platform. The Win32 driver copies them member by member to and from the real
// ones; the POSIX driver maps them onto termios.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

namespace kv58 {

// Line settings. The flag members are whole words here rather than bit-fields.
struct DCB {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t fBinary = 0;
  std::uint32_t fParity = 0;
  std::uint32_t fOutxCtsFlow = 0;
  std::uint32_t fOutxDsrFlow = 0;
  std::uint32_t fDtrControl = 0;
  std::uint32_t fDsrSensitivity = 0;
  std::uint32_t fTXContinueOnXoff = 0;
  std::uint32_t fOutX = 0;
  std::uint32_t fInX = 0;
  std::uint32_t fErrorChar = 0;
  std::uint32_t fNull = 0;
  std::uint32_t fRtsControl = 0;
  std::uint32_t fAbortOnError = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;

  friend bool operator==(const DCB&, const DCB&) = default;
};

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;
inline constexpr std::uint32_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint32_t RTS_CONTROL_TOGGLE = 3;

// Read and write time-outs, in milliseconds.
struct COMMTIMEOUTS {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;

  friend bool operator==(const COMMTIMEOUTS&, const COMMTIMEOUTS&) = default;
};

// The total time-out of a write of `count` bytes, as Win32 counts it: multiplier × count +
// constant ms; none when both are 0. At most 2^40 ms (some 34 years): beyond that a wait is as
// good as endless, and the clock could not hold it.
[[nodiscard]] inline std::optional<std::chrono::milliseconds> TotalWriteTimeout(const COMMTIMEOUTS& timeouts,
                                                                                std::uint32_t count) {
  if (timeouts.WriteTotalTimeoutMultiplier == 0 && timeouts.WriteTotalTimeoutConstant == 0) {
    return std::nullopt;
  }
  constexpr std::uint64_t kLongestWait = std::uint64_t{1} << 40;
  const std::uint64_t total =
      std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * count + timeouts.WriteTotalTimeoutConstant;
  return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(total, kLongestWait)));
}

// ClearCommError's error word: the input queue overflowed, and received bytes were lost.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;

// Port status; only cbInQue, the count of received bytes not yet read, is used.
struct COMSTAT {
  std::uint32_t fCtsHold = 0;
  std::uint32_t fDsrHold = 0;
  std::uint32_t fRlsdHold = 0;
  std::uint32_t fXoffHold = 0;
  std::uint32_t fXoffSent = 0;
  std::uint32_t fEof = 0;
  std::uint32_t fTxim = 0;
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;

  friend bool operator==(const COMSTAT&, const COMSTAT&) = default;
};

} // namespace kv58
