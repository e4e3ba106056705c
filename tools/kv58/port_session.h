#pragma once
// Opening the display's port as the window's connect box does, and saying in words what
// went wrong with it: the opening step that failed and why, or why a write was not taken.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/com_socket.h"
#include "serial/serial_driver.h"

namespace kv58::cli {

// Opens `name` exclusively and writes the device's line settings at `baudRate`, queue sizes
// and time-outs, then reads the settings back; nothing is sent. The error, or nothing.
[[nodiscard]] std::optional<std::string> OpenDevicePort(TCOMSocket& port, std::string_view name,
                                                        std::int32_t baudRate);

// Why the port did not take bytes it was given: gone (unplugged, hung up) or too slow.
[[nodiscard]] std::string WriteFailureReason(SerialDriver& driver, const TCOMSocket& port);

// Whether the line behind the open port has gone away: its status can no longer be read.
[[nodiscard]] bool LineIsGone(SerialDriver& driver, const TCOMSocket& port);

} // namespace kv58::cli
