#pragma once
// Opening the display's port: the name, the exclusive open, the driver's current settings, the
// display's line settings at the chosen rate, then queue sizes and time-outs, read back at the
// end. Each face words a failure its own way; this says which step it was.

#include <cstdint>
#include <string_view>

#include "serial/com_socket.h"

namespace kv58 {

// How far the opening got: Ready, or the step that failed.
enum class OpenStep {
  Ready,             // the port is open and set up for the display
  PortName,          // the name is no "COM" and number
  Open,              // the port did not open; TCOMSocket::LastOpenFailure says why
  ReadSettings,      // its settings cannot be read: most likely it is no serial port
  LineSettings,      // it refused the rate, 8 data bits, no parity, one stop bit
  QueuesAndTimeouts, // it refused the queue sizes or the time-outs, or the settings could not be read back
};

// Opens `name` and sets it up for the display at `baudRate`; nothing is sent. Ready, or the
// step that failed. A failed open may leave the port open: the caller
// closes it, as it would after any failure.
[[nodiscard]] OpenStep OpenDevicePort(TCOMSocket& port, std::string_view name, std::int32_t baudRate);
// The same for a name read already (serial/port_name.h).
[[nodiscard]] OpenStep OpenDevicePort(TCOMSocket& port, const PortName& name, std::int32_t baudRate);

// Closes the port once what was written has left toward the display (bounded by the port's
// time-outs): a device server closes the device with its client and drops what it holds.
// Close's result.
bool CloseDevicePort(TCOMSocket& port);

} // namespace kv58
