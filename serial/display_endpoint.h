#pragma once
// Whether two network port names reach one display: the host's name compared without regard
// to case (names are case-insensitive; messages keep the spelling the user gave), and, when a
// look-up is worth it, the addresses the names resolve to. The scheme plays no part: tcp://
// and rfc2217:// at one host and port are the same server port, and so the same display.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/network_port.h"

namespace kv58 {

// The host as a key: ASCII letters in lower case, nothing else changed ("LocalHost" and
// "localhost" give one key; an IPv6 address's hex digits too).
[[nodiscard]] std::string CanonicalHostKey(std::string_view host);

// "HOST:PORT" with the host as CanonicalHostKey gives it, an IPv6 address in brackets: equal
// for two names of one display as written, whatever their case or scheme.
[[nodiscard]] std::string EndpointKey(const NetworkPort& port);

// Every address the host reaches with the port, "ADDRESS:PORT" (IPv6 in brackets), sorted and
// without repeats: looked up on the process's bounded pool of look-up threads by `deadline`.
// None when the look-up fails, runs out of time or a stop request ends it. An address needs
// no look-up and gives itself. (Defined with the sockets: socket_stream_posix.cpp and
// socket_stream_win32.cpp.)
[[nodiscard]] std::optional<std::vector<std::string>>
ResolvedEndpoints(const NetworkPort& port, std::chrono::steady_clock::time_point deadline);

// Whether two names' resolved endpoints share one: then a connection to either may reach the
// same display ("localhost" gives [::1] and 127.0.0.1, and meets "127.0.0.1").
[[nodiscard]] bool ShareAnEndpoint(const std::vector<std::string>& a, const std::vector<std::string>& b);

} // namespace kv58
