#pragma once
// What the simulated display saw on its line: one event per decoded command frame, per text
// upload, per run of bytes it could not make sense of, and per open or hang-up of the port
// (with a note when a client's connection closes in the middle of a text).
// The decoder produces them; the formatter turns each into one output line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv58::sim {

// Milliseconds on the simulator's monotonic clock, counted from its start.
using Millis = std::int64_t;

enum class EventKind {
  Speed,      // 0xFF 0x03 n
  FirstLine,  // 0xFF 0x04 n
  LastLine,   // 0xFF 0x05 n
  ScrollType, // 0xFF 0x06 n
  Store,      // 0xFF 0x08
  Reset,      // 0xFF 0x09
  Text,       // 0xFF 0x07, the text, 0x00
  Undecoded,  // bytes that form no frame
  Open,       // the program opened the port
  Hangup,     // the program closed the port (its last open handle went away)
  // A client's connection closed while a text was open (FF 07 came, its 00 not yet): the
  // display behind a device server never sees the close and goes on taking the text.
  ClosedMidText,
};

enum class UndecodedReason {
  NoMarker,           // bytes outside any frame, before a 0xFF
  UnknownCode,        // 0xFF followed by a code the device does not know
  Incomplete,         // a frame cut short by silence or by the port closing
  UnterminatedUpload, // an upload whose closing 0x00 never came
};

// One burst of upload bytes: the device gets its text page by page, with pauses between.
struct UploadPage {
  Millis startMs = 0; // since the upload's 0xFF
  std::size_t bytes = 0;
  friend bool operator==(const UploadPage&, const UploadPage&) = default;
};

struct SimEvent {
  EventKind kind = EventKind::Undecoded;
  Millis timeMs = 0;             // when the event's first byte arrived
  std::uint8_t value = 0;        // the parameter of Speed, FirstLine, LastLine and ScrollType
  std::string bytes;             // Text: the text; Undecoded: the raw bytes. At most the decoder's cap.
  std::size_t byteCount = 0;     // how many bytes there really were; more than bytes.size() when capped
  std::vector<UploadPage> pages; // Text only
  Millis endMs = 0;              // Text only: the 0x00's arrival, since the upload's 0xFF
  std::size_t connections = 1;   // Text only: the client connections its bytes came over
  UndecodedReason reason = UndecodedReason::NoMarker;

  [[nodiscard]] bool IsCapped() const { return byteCount > bytes.size(); }
  friend bool operator==(const SimEvent&, const SimEvent&) = default;
};

// The serial line as a program set it over RFC 2217: rate, data bits, parity and stop bits.
struct SerialLine {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataBits = 8;
  std::uint8_t parity = 1;   // RFC 2217's codes: 1 none, 2 odd, 3 even, 4 mark, 5 space
  std::uint8_t stopBits = 1; // 1 one, 2 two, 3 one and a half
  friend bool operator==(const SerialLine&, const SerialLine&) = default;
};

// True for the events that a well-formed frame or upload produces: the ones a reply answers.
[[nodiscard]] constexpr bool IsDecodedFrame(EventKind kind) {
  return kind != EventKind::Undecoded && kind != EventKind::Open && kind != EventKind::Hangup &&
         kind != EventKind::ClosedMidText;
}

} // namespace kv58::sim
