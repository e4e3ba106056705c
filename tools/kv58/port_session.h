#pragma once
// What went wrong with the display's port, in words a user acts on: the opening step that
// failed and why, or why a write was not taken. The one table of kv58's words for a port.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_port.h"
#include "serial/com_socket.h"
#include "serial/port_name.h"

namespace kv58::cli {

struct PortOpening {
  OpenStep step = OpenStep::Ready;
  std::string error; // what went wrong, in words; empty when Ready
  std::string kind;  // the failure's kind as reports name it ("refused", "no-answer"); empty when Ready
};

// Opens `name` for the display at `baudRate`; nothing is sent.
[[nodiscard]] PortOpening OpenPortForDevice(TCOMSocket& port, const PortName& name, std::int32_t baudRate);

// Why the port did not take bytes it was given: gone (unplugged, hung up) or too slow.
[[nodiscard]] std::string WriteFailureReason(TCOMSocket& port);
// The same as a kind: "lost" or "timeout".
[[nodiscard]] std::string WriteFailureKind(TCOMSocket& port);

inline constexpr std::string_view kLineGoneReason =
    "the port is gone (the device was unplugged, or the other end of the line closed)";

} // namespace kv58::cli
