#pragma once
// Taking whatever the device sent off the port. The one receive loop hands the raw bytes to a
// sink, in reads of at most 1024 bytes; nothing received is interpreted. The window's monitor
// keeps them as one line of text that is emptied at each CR LF; kv58 prints them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "serial/com_socket.h"

namespace kv58 {

inline constexpr std::uint32_t kReceiveReadBytes = 1024;
// A drain ends after this many reads even if the port still reports bytes, so a device that
// never stops talking (or a port that reports bytes it never yields) cannot hold the caller.
inline constexpr int kMaxReadsPerDrain = 64;

using ByteSink = std::function<void(std::string_view bytes)>;

// Said once when the port lost received bytes to a full input queue (a device server that
// floods the line between two reads).
inline constexpr std::string_view kInputOverflowText =
    "received bytes were lost: more came between two reads than the port keeps";

// Nothing while the port is closed; otherwise reads while the port reports bytes, until a read
// yields none or kMaxReadsPerDrain reads were made, and hands each read to `sink`.
void DrainReceived(TCOMSocket& port, const ByteSink& sink);

class ReceiveMonitor {
public:
  // A device that never sends CR LF must not grow the line forever: past this size only the
  // newest bytes are kept.
  static constexpr std::size_t kMaxLineBytes = 4096;

  // One timer tick: DrainReceived into the line.
  void Tick(TCOMSocket& port);

  // The bytes received since the last CR LF (at most kMaxLineBytes of them).
  [[nodiscard]] const std::string& Line() const { return line_; }

private:
  void Take(std::string_view bytes, bool& previousWasCr);
  void KeepNewestBytes();

  std::string line_;
};

} // namespace kv58
