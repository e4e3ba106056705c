#pragma once
// kv58 monitor: what the device sends, printed as it arrives, until the user interrupts, the
// line goes away or nobody reads the output any more. Takes the bytes off the line with the
// window's receive loop.

#include <chrono>
#include <functional>
#include <ostream>

#include "serial/com_socket.h"

namespace kv58::cli {

struct MonitorOptions {
  std::function<void()> inputOverflowed; // more came than the port keeps: the oldest bytes were lost
  bool hex = false; // each read as hex bytes on a line of its own, instead of the bytes as they are
  std::chrono::milliseconds tick{100};
  std::function<bool()> stopRequested;
};

enum class MonitorEnd {
  Stopped,      // on request
  LineGone,     // unplugged, hung up
  OutputClosed, // what was received could not be written (a closed pipe)
};

[[nodiscard]] MonitorEnd MonitorPort(TCOMSocket& port, std::ostream& out, const MonitorOptions& options);

} // namespace kv58::cli
