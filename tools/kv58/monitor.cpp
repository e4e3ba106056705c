#include "tools/kv58/monitor.h"

#include <algorithm>
#include <array>
#include <string>
#include <thread>

#include "protocol/receive_monitor.h"
#include "tools/kv58/hex_text.h"
#include "tools/kv58/port_session.h"

namespace kv58::cli {
namespace {

// One tick: everything waiting, in bounded reads, written out as it is read.
void PrintWaitingBytes(TCOMSocket& port, std::ostream& out, bool hex) {
  std::array<char, ReceiveMonitor::kReadBytes> buffer{};
  for (int reads = 0; reads < ReceiveMonitor::kMaxReadsPerTick; ++reads) {
    const std::uint32_t waiting = port.BytesWaiting();
    if (waiting == 0) {
      break;
    }
    const std::uint32_t got = port.Read(buffer.data(), std::min(waiting, ReceiveMonitor::kReadBytes));
    if (got == 0) {
      break;
    }
    const std::string_view bytes(buffer.data(), got);
    if (hex) {
      out << HexLine(bytes) << '\n';
    } else {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }
  out.flush();
}

} // namespace

bool MonitorPort(TCOMSocket& port, SerialDriver& driver, std::ostream& out, const MonitorOptions& options) {
  while (!options.stopRequested()) {
    PrintWaitingBytes(port, out, options.hex);
    if (LineIsGone(driver, port)) {
      return false;
    }
    std::this_thread::sleep_for(options.tick);
  }
  return true;
}

} // namespace kv58::cli
