#include "protocol/receive_monitor.h"

#include <algorithm>
#include <array>

namespace kv58 {
namespace {

constexpr char kCr = 13;
constexpr char kLf = 10;

} // namespace

void DrainReceived(TCOMSocket& port, const ByteSink& sink) {
  if (!port.IsOpen()) {
    return;
  }
  std::array<char, kReceiveReadBytes> buffer{};
  for (int reads = 0; reads < kMaxReadsPerDrain; ++reads) {
    const std::uint32_t waiting = port.BytesWaiting();
    if (waiting == 0) {
      break;
    }
    const std::uint32_t got = port.Read(buffer.data(), std::min(waiting, kReceiveReadBytes));
    if (got == 0) {
      break;
    }
    sink(std::string_view(buffer.data(), got));
  }
}

void ReceiveMonitor::Tick(TCOMSocket& port) {
  // A CR LF pairs only among the bytes of one tick, so the pairing starts afresh here.
  bool previousWasCr = false;
  DrainReceived(port, [this, &previousWasCr](std::string_view bytes) { Take(bytes, previousWasCr); });
}

void ReceiveMonitor::Take(std::string_view bytes, bool& previousWasCr) {
  // Only what follows the last CR LF stays; the bytes before it complete lines nobody keeps.
  std::size_t start = 0;
  for (std::size_t lf = bytes.find(kLf); lf != std::string_view::npos; lf = bytes.find(kLf, lf + 1)) {
    const bool afterCr = lf == 0 ? previousWasCr : bytes[lf - 1] == kCr;
    if (afterCr) {
      line_.clear();
      start = lf + 1;
    }
  }
  line_.append(bytes.substr(start));
  if (!bytes.empty()) {
    previousWasCr = bytes.back() == kCr;
  }
  KeepNewestBytes();
}

void ReceiveMonitor::KeepNewestBytes() {
  if (line_.size() > kMaxLineBytes) {
    line_.erase(0, line_.size() - kMaxLineBytes);
  }
}

} // namespace kv58
