#pragma once
// What went wrong with the display's port, in words a user acts on: the opening step that
// failed and why, or why a write was not taken. The one table of kv58's words for a port.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_port.h"
#include "serial/com_socket.h"
#include "serial/port_name.h"
#include "tools/kv58/failure_kind.h"

namespace kv58::cli {

struct PortOpening {
  OpenStep step = OpenStep::Ready;
  std::string error; // what went wrong, in words; empty when Ready
  FailureKind kind = FailureKind::None;
};

// Opens `name` for the display at `baudRate`; nothing is sent.
[[nodiscard]] PortOpening OpenPortForDevice(TCOMSocket& port, const PortName& name, std::int32_t baudRate);

// Why the port did not take bytes it was given: gone (unplugged, hung up) or too slow.
[[nodiscard]] std::string WriteFailureReason(TCOMSocket& port);
// The same as a kind: Lost or Timeout.
[[nodiscard]] FailureKind WriteFailureKind(TCOMSocket& port);

inline constexpr std::string_view kLineGoneReason =
    "the port is gone (the device was unplugged, or the other end of the line closed)";

} // namespace kv58::cli
