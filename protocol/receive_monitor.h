#pragma once
// Takes whatever the device sent off the port, once per timer tick, in reads of at most
// 1024 bytes. Nothing received is interpreted: the bytes only build up one line of text that
// is emptied at each CR LF, and that a caller may watch through a completed-line callback.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "serial/com_socket.h"

namespace kv58 {

class ReceiveMonitor {
public:
  // Gets each completed line, without its CR LF, just before the line is emptied.
  using LineHandler = std::function<void(std::string_view line)>;

  static constexpr std::uint32_t kReadBytes = 1024;
  // A tick ends after this many reads even if the port still reports bytes, so a device that
  // never stops talking (or a port that reports bytes it never yields) cannot hold the window.
  static constexpr int kMaxReadsPerTick = 64;
  // A device that never sends CR LF must not grow the line forever: past this size only the
  // newest bytes are kept.
  static constexpr std::size_t kMaxLineBytes = 4096;

  void SetLineHandler(LineHandler handler) { onLine_ = std::move(handler); }

  // One timer tick: nothing while the port is closed; otherwise reads while the port reports
  // bytes, until a read yields none or kMaxReadsPerTick reads were made.
  void Tick(TCOMSocket& port);

  // The bytes received since the last CR LF (at most kMaxLineBytes of them).
  [[nodiscard]] const std::string& Line() const { return line_; }

private:
  void Take(std::string_view bytes, bool& previousWasCr);
  void CompleteLine();
  void KeepNewestBytes();

  std::string line_;
  LineHandler onLine_;
};

} // namespace kv58
