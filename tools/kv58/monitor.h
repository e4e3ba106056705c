#pragma once
// kv58 monitor: what the device sends, printed as it arrives, until the user interrupts or
// the line goes away. Reads as the window's receive monitor does: while bytes are waiting,
// reads of at most 1024 bytes, at most 64 of them per tick.

#include <chrono>
#include <functional>
#include <ostream>

#include "serial/com_socket.h"
#include "serial/serial_driver.h"

namespace kv58::cli {

struct MonitorOptions {
  bool hex = false; // each read as hex bytes on a line of its own, instead of the bytes as they are
  std::chrono::milliseconds tick{100};
  std::function<bool()> stopRequested;
};

// True when stopped on request; false when the line went away (unplugged, hung up).
[[nodiscard]] bool MonitorPort(TCOMSocket& port, SerialDriver& driver, std::ostream& out,
                               const MonitorOptions& options);

} // namespace kv58::cli
