#pragma once
// Where the simulator listens when it stands in for a display behind a device server:
//   rfc2217://HOST:PORT  Telnet with RFC 2217, as a device server's Telnet port
//   tcp://HOST:PORT      raw bytes; socket://HOST:PORT is the same
// HOST is an IPv4 address, a host name, or an IPv6 address in brackets ([::1]); left out
// (rfc2217://:4001) it is 127.0.0.1. PORT is 0 to 65535, 0 for any free port. Parsing only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv58::sim {

struct ListenAddress {
  enum class Mode { Rfc2217, Raw };
  Mode mode = Mode::Raw;
  std::string host;       // without the brackets of an IPv6 address
  std::uint16_t port = 0; // 0: the system picks one
};

[[nodiscard]] std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// The rule ParseListenAddress reads, in words, for the command line's complaint.
[[nodiscard]] std::string_view ListenAddressRule();

// "rfc2217://127.0.0.1:4001", "tcp://[::1]:4001": the address as the simulator prints it.
[[nodiscard]] std::string ListenUrl(const ListenAddress& address);

} // namespace kv58::sim
