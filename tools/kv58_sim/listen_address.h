#pragma once
// Where the simulator listens when it stands in for a display behind a device server: an
// address as the program names a device server (serial/port_name.h),
//   rfc2217://HOST:PORT  Telnet with RFC 2217, as a device server's Telnet port
//   tcp://HOST:PORT      raw bytes; socket://HOST:PORT is the same
// with two things of a listener's own: HOST left out (rfc2217://:4001) is 127.0.0.1, and
// PORT 0 takes any free port. Printed with NetworkPortName. Parsing only.

#include <optional>
#include <string_view>

#include "serial/network_port.h"

namespace kv58::sim {

using ListenAddress = NetworkPort;

[[nodiscard]] std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// The rule ParseListenAddress reads, in words, for the command line's complaint.
[[nodiscard]] std::string_view ListenAddressRule();

} // namespace kv58::sim
