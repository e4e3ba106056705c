#include "protocol/receive_monitor.h"

#include <algorithm>
#include <array>

namespace kv58 {
namespace {

constexpr char kCr = 13;
constexpr char kLf = 10;

} // namespace

void ReceiveMonitor::Tick(TCOMSocket& port) {
  if (!port.IsOpen()) {
    return;
  }
  std::array<char, kReadBytes> buffer{};
  // A CR LF pairs only among the bytes of one tick, so the pairing starts afresh here.
  bool previousWasCr = false;
  for (int reads = 0; reads < kMaxReadsPerTick; ++reads) {
    const std::uint32_t waiting = port.BytesWaiting();
    if (waiting == 0) {
      break;
    }
    const std::uint32_t got = port.Read(buffer.data(), std::min(waiting, kReadBytes));
    if (got == 0) {
      break;
    }
    Take(std::string_view(buffer.data(), got), previousWasCr);
  }
}

void ReceiveMonitor::Take(std::string_view bytes, bool& previousWasCr) {
  // Appends in runs up to each LF that ends a CR LF, rather than byte by byte.
  std::size_t start = 0;
  for (std::size_t lf = bytes.find(kLf); lf != std::string_view::npos; lf = bytes.find(kLf, lf + 1)) {
    const bool afterCr = lf == 0 ? previousWasCr : bytes[lf - 1] == kCr;
    if (afterCr) {
      line_.append(bytes.substr(start, lf + 1 - start));
      CompleteLine();
      start = lf + 1;
    }
  }
  line_.append(bytes.substr(start));
  if (!bytes.empty()) {
    previousWasCr = bytes.back() == kCr;
  }
  KeepNewestBytes();
}

void ReceiveMonitor::CompleteLine() {
  // Trimming only happens between reads, so the CR and LF just taken are still the last two bytes.
  line_.resize(line_.size() - 2);
  if (onLine_) {
    onLine_(line_);
  }
  line_.clear();
}

void ReceiveMonitor::KeepNewestBytes() {
  if (line_.size() > kMaxLineBytes) {
    line_.erase(0, line_.size() - kMaxLineBytes);
  }
}

} // namespace kv58
