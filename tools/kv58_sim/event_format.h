#pragma once
// Writes the simulator's events as lines a person reads ("[   1234 ms] speed 4") or as
// JSON lines a program reads ({"t_ms":1234,"event":"speed","value":4}). One event, one
// line, without the line end; nothing here touches a file descriptor.

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/kv58_sim/sim_event.h"

namespace kv58::sim {

enum class OutputFormat { Text, Json };

// C-style escape of raw bytes, without the quotes: printable ASCII as is, \" \\ \n \r \t,
// every other byte as \x and exactly two hex digits. (JSON strings: JsonEscape in
// tools/common/json_line.h.)
[[nodiscard]] std::string EscapeC(std::string_view bytes);
// Two lowercase hex digits per byte, the separator between them.
[[nodiscard]] std::string HexBytes(std::string_view bytes, std::string_view separator);

// "none", "vertical", "horizontal", or "unknown" for a value the device does not define.
[[nodiscard]] std::string_view ScrollTypeName(std::uint8_t value);
// The event's name in both formats: "speed", "first-line", "text", "undecoded", ...
[[nodiscard]] std::string_view EventName(EventKind kind);
// The JSON reason word: "no-marker", "unknown-code", "incomplete", "unterminated-upload".
[[nodiscard]] std::string_view ReasonName(UndecodedReason reason);

[[nodiscard]] std::string FormatEvent(const SimEvent& event, OutputFormat format);

// The lines around the events: where the port is, where it is linked, and why the simulator ended.
[[nodiscard]] std::string FormatPty(std::string_view slavePath, OutputFormat format);
[[nodiscard]] std::string FormatLink(std::string_view linkPath, std::string_view target, OutputFormat format);
// Where the simulator listens for a program, and the line a program set over RFC 2217
// ("line 9600 8N1").
[[nodiscard]] std::string FormatListening(std::string_view url, OutputFormat format);
[[nodiscard]] std::string FormatSerialLine(const SerialLine& line, Millis timeMs, OutputFormat format);
// Lines left unprinted to keep the output bounded, and the bytes received that made them.
[[nodiscard]] std::string FormatNotShown(std::size_t lines, std::size_t bytes, Millis timeMs,
                                         OutputFormat format);
[[nodiscard]] std::string FormatExit(std::string_view reason, Millis timeMs, OutputFormat format);

} // namespace kv58::sim
