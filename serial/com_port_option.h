#pragma once
// RFC 2217 (Telnet COM-PORT-OPTION) payloads, as pure functions beside the Telnet codec: the
// commands a client sends, and what a device server's answer or notice means. Nothing here
// waits or holds state, so any bytes a server sends can be read without harm.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv58::rfc2217 {

// The client's command codes; a server answers each with the code + kServerAnswer.
enum class Command : std::uint8_t {
  SetBaudRate = 1,
  SetDataSize = 2,
  SetParity = 3,
  SetStopSize = 4,
  SetControl = 5,
  FlowControlSuspend = 8,
  FlowControlResume = 9,
};
inline constexpr std::uint8_t kServerAnswer = 100;

// A baud rate as SET-BAUDRATE carries it, four bytes in network order, and back from the
// first four of `bytes` (fewer read as far as they go).
inline constexpr std::size_t kRateBytes = 4;
[[nodiscard]] std::string RateBytes(std::uint32_t rate);
[[nodiscard]] std::uint32_t RateOf(std::string_view bytes);

// IAC SB COM-PORT-OPTION SET-BAUDRATE rate IAC SE; a rate of 0 asks for the one in force.
[[nodiscard]] std::string SetBaudRate(std::uint32_t rate);
// The display's line: `rate`, 8 data bits, no parity, one stop bit, no flow control, in the
// order device servers expect.
[[nodiscard]] std::string DisplayLineSettings(std::uint32_t rate);

// What a server's subnegotiation payload (after the option byte, un-doubled) tells the client.
struct ServerNotice {
  enum class Kind {
    BaudRate,    // the rate in force, answering SET-BAUDRATE
    SuspendFlow, // stop sending until resumed
    ResumeFlow,  // sending may go on
    Other,       // an answer or notice that the display's line needs nothing from
  };
  Kind kind = Kind::Other;
  std::uint32_t baudRate = 0; // BaudRate only
};
[[nodiscard]] ServerNotice ReadServerPayload(std::string_view payload);

} // namespace kv58::rfc2217
