#pragma once
// The Telnet layer under RFC 2217 (COM-PORT-OPTION): what a device server sends is split into
// the display's bytes and the server's commands, and what goes to it is escaped. 0xFF is the
// Telnet command byte (IAC): every 0xFF of data travels doubled, both ways, and inside a
// subnegotiation too. The server's bytes are untrusted: a subnegotiation longer than any RFC
// 2217 answer is cut, and the reader never holds more than that.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv58::telnet {

inline constexpr std::uint8_t kIac = 0xFF;
inline constexpr std::uint8_t kDont = 0xFE;
inline constexpr std::uint8_t kDo = 0xFD;
inline constexpr std::uint8_t kWont = 0xFC;
inline constexpr std::uint8_t kWill = 0xFB;
inline constexpr std::uint8_t kSb = 0xFA; // subnegotiation begins
inline constexpr std::uint8_t kSe = 0xF0; // subnegotiation ends

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kEcho = 1;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;

// Data as it goes to the server: every 0xFF doubled.
[[nodiscard]] std::string EscapeData(std::string_view bytes);
// IAC verb option, e.g. IAC WILL COM-PORT-OPTION.
[[nodiscard]] std::string OptionCommand(std::uint8_t verb, std::uint8_t option);
// IAC SB option payload IAC SE, the payload escaped.
[[nodiscard]] std::string Subnegotiation(std::uint8_t option, std::string_view payload);

// A command of the server's, in the order it came among the data.
struct Command {
  std::uint8_t verb = 0; // kWill, kWont, kDo, kDont, or kSb for a subnegotiation
  std::uint8_t option = 0;
  std::string payload; // kSb only: the bytes between the option and IAC SE, un-doubled, cut
                       // after kMaxPayloadBytes
};

class Reader {
public:
  // Longer than any answer RFC 2217 defines (the longest carries 4 bytes after its code).
  static constexpr std::size_t kMaxPayloadBytes = 32;

  // Takes the next bytes from the server, in any pieces: the data bytes are appended to
  // `data`, the commands to `commands`. A command or a doubled 0xFF split between two calls
  // is completed by the second.
  void Feed(std::string_view bytes, std::string& data, std::vector<Command>& commands);

private:
  enum class State { Data, Iac, Verb, SbOption, SbData, SbIac };

  void TakeSubnegotiationByte(char byte);

  State state_ = State::Data;
  Command pending_;
};

} // namespace kv58::telnet
