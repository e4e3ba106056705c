#pragma once
// The display's command frames: the marker 0xFF, a command code and, for the settings codes,
// one parameter byte. Sending never waits for an answer; the outcome is whether the port took
// every byte. The log texts are the device tool's own (typos included) and are never translated.

#include <array>
#include <cstdint>
#include <string_view>

#include "common/debug_log.h"
#include "serial/com_socket.h"

namespace kv58 {

enum class TDeviceCommand : std::uint8_t {
  dcSpeed = 0x03,
  dcFirstLine = 0x04,
  dcLastLine = 0x05,
  dcScrollType = 0x06,
  dcText = 0x07,
  dcStore = 0x08,
  dcReset = 0x09,
};

inline constexpr std::uint8_t kCommandMarker = 0xFF;
// Silence between a scroll-type command and the reset that must follow it.
inline constexpr std::uint32_t kScrollTypeResetPauseMs = 10;

// What the device takes as parameters: speed 0 (slowest) to 16, lines 1 (top) to 22, and
// three kinds of scroll, by their value.
inline constexpr std::int32_t kMinSpeed = 0;
inline constexpr std::int32_t kMaxSpeed = 16;
inline constexpr std::int32_t kTopLine = 1;
inline constexpr std::int32_t kBottomLine = 22;
inline constexpr std::array<std::string_view, 3> kScrollTypeNames{"none", "vertical", "horizontal"};
inline constexpr std::int32_t kScrollTypeCount = static_cast<std::int32_t>(kScrollTypeNames.size());

// The name of a scroll type's value; "unknown" for a value the device has no type for.
[[nodiscard]] constexpr std::string_view ScrollTypeName(std::int32_t value) {
  return value >= 0 && value < kScrollTypeCount ? kScrollTypeNames[static_cast<std::size_t>(value)]
                                                : std::string_view("unknown");
}

inline constexpr std::string_view kSpeedSentLine = "wysłano zmianę szybkości";
inline constexpr std::string_view kFirstLineSentLine = "wysłano zmianę pierwszej linii";
inline constexpr std::string_view kLastLineSentLine = "wysłano zmianę ostatnij linni";
inline constexpr std::string_view kScrollTypeSentLine = "wysłano zmianę rodzaju scrollu";
inline constexpr std::string_view kStoreSentLine = "wysłano zapis do eepromu";
inline constexpr std::string_view kResetSentLine = "wysłano zeruj";
inline constexpr std::string_view kPortNotConnectedLine = "Port nie połączony";

// Codes 0x03 to 0x06 carry a parameter byte; the others are two-byte frames.
[[nodiscard]] constexpr bool HasParameter(TDeviceCommand code) {
  const auto value = static_cast<std::uint8_t>(code);
  return value >= 0x03 && value <= 0x06;
}

// The parameter byte of a control's value: its low 8 bits, as the device expects.
[[nodiscard]] constexpr std::uint8_t ParameterByte(std::int32_t value) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFU);
}

// Writes the frame one byte per Write, each byte whatever became of the ones before it.
// True only when the port took every byte of the frame.
[[nodiscard]] bool SendCommand(TCOMSocket& port, TDeviceCommand code, std::uint8_t parameter = 0);

// The line a sent command leaves in the log; empty for dcText, whose upload logs its own lines.
[[nodiscard]] std::string_view SentLine(TDeviceCommand code);

// Appends the command's one outcome line: its sent line, or kPortNotConnectedLine.
// dcText has no line of its own, so nothing is appended for it.
void LogOutcome(DebugLog& log, TDeviceCommand code, bool sent);

// SendCommand followed by LogOutcome: what each settings handler of the window does. The
// log line is the whole report; nothing else is returned.
void SendAndLog(TCOMSocket& port, DebugLog& log, TDeviceCommand code, std::uint8_t parameter = 0);

} // namespace kv58
