#include "serial/network_port.h"

namespace kv58 {

std::string HostAndPort(const NetworkPort& port) {
  const bool ipv6 = port.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + port.host + "]" : port.host) + ":" + std::to_string(port.port);
}

std::string NetworkPortName(const NetworkPort& port) {
  const std::string scheme = port.mode == NetworkPort::Mode::Rfc2217 ? "rfc2217" : "tcp";
  return scheme + (port.tls ? "+tls" : "") + "://" + HostAndPort(port);
}

} // namespace kv58
