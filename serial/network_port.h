#pragma once
// Port names of displays behind a serial-to-Ethernet device server (ser2net, Moxa NPort and
// the like), beside the COMn names of local ports:
//   rfc2217://HOST:PORT  Telnet with RFC 2217, which also carries the line settings
//   tcp://HOST:PORT      raw bytes; socket://HOST:PORT is the same, as other serial tools name it
// HOST is a host name, an IPv4 address, or an IPv6 address in brackets ([::1]). Nothing may
// follow the port: no path, no query, no user.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv58 {

struct NetworkPort {
  enum class Mode { Rfc2217, Raw };
  Mode mode = Mode::Raw;
  std::string host; // as given, without the brackets of an IPv6 address
  std::uint16_t port = 0;
};

// The parts of a network port name; none for anything else (COMn names included). The
// scheme is taken in any case, as URLs take it.
[[nodiscard]] std::optional<NetworkPort> ParseNetworkPort(std::string_view name);

// "HOST:PORT", an IPv6 address in brackets: the server as messages name it.
[[nodiscard]] std::string HostAndPort(const NetworkPort& port);

// The name as the program writes it: the scheme in lower case, "tcp" for raw bytes.
[[nodiscard]] std::string NetworkPortName(const NetworkPort& port);

} // namespace kv58
