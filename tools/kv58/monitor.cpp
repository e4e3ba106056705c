#include "tools/kv58/monitor.h"

#include <string>
#include <thread>

#include "protocol/receive_monitor.h"
#include "tools/kv58/hex_text.h"

namespace kv58::cli {
namespace {

void Print(std::ostream& out, std::string_view bytes, bool hex) {
  if (hex) {
    out << HexLine(bytes) << '\n';
  } else {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

} // namespace

MonitorEnd MonitorPort(TCOMSocket& port, std::ostream& out, const MonitorOptions& options) {
  while (!options.stopRequested()) {
    DrainReceived(port, [&](std::string_view bytes) { Print(out, bytes, options.hex); });
    if (port.TakeInputOverflow() && options.inputOverflowed) {
      options.inputOverflowed();
    }
    if (!out.flush()) {
      return MonitorEnd::OutputClosed;
    }
    if (!port.LineIsAlive()) {
      return MonitorEnd::LineGone;
    }
    std::this_thread::sleep_for(options.tick);
  }
  return MonitorEnd::Stopped;
}

} // namespace kv58::cli
