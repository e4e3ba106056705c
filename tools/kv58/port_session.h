#pragma once
// What went wrong with the display's port, in words a user acts on: the opening step that
// failed and why, or why a write was not taken.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/com_socket.h"

namespace kv58::cli {

// Opens `name` for the display at `baudRate`; nothing is sent. The error, or nothing.
[[nodiscard]] std::optional<std::string> OpenPortForDevice(TCOMSocket& port, std::string_view name,
                                                           std::int32_t baudRate);

// Why the port did not take bytes it was given: gone (unplugged, hung up) or too slow.
[[nodiscard]] std::string WriteFailureReason(TCOMSocket& port);

inline constexpr std::string_view kLineGoneReason =
    "the port is gone (the device was unplugged, or the other end of the line closed)";

} // namespace kv58::cli
