#pragma once
// Port names of displays behind a serial-to-Ethernet device server (ser2net, Moxa NPort and
// the like), beside the COMn names of local ports:
//   rfc2217://HOST:PORT  Telnet with RFC 2217, which also carries the line settings
//   tcp://HOST:PORT      raw bytes; socket://HOST:PORT is the same, as other serial tools name it
// HOST is a host name, an IPv4 address, or an IPv6 address in brackets ([::1]). Nothing may
// follow the port: no path, no query, no user. ParsePortName (serial/port_name.h) reads them.

#include <cstdint>
#include <string>

namespace kv58 {

struct NetworkPort {
  enum class Mode { Rfc2217, Raw };
  Mode mode = Mode::Raw;
  std::string host;       // as given, without the brackets of an IPv6 address
  std::uint16_t port = 0; // 1 to 65535
};

// "HOST:PORT", an IPv6 address in brackets: the server as messages name it.
[[nodiscard]] std::string HostAndPort(const NetworkPort& port);

// The name as the program writes it: the scheme in lower case, "tcp" for raw bytes.
[[nodiscard]] std::string NetworkPortName(const NetworkPort& port);

} // namespace kv58
