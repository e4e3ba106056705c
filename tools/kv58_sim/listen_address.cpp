#include "tools/kv58_sim/listen_address.h"

#include <string>

#include "serial/port_name.h"

namespace kv58::sim {
namespace {

constexpr std::string_view kDefaultHost = "127.0.0.1";
constexpr std::string_view kSeparator = "://";

} // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  std::string address(text);
  if (const std::size_t separator = address.find(kSeparator);
      separator != std::string::npos && address.compare(separator + kSeparator.size(), 1, ":") == 0) {
    address.insert(separator + kSeparator.size(), kDefaultHost); // the host left out
  }
  return ParseNetworkAddress(address, PortNumbers::Listen);
}

std::string_view ListenAddressRule() {
  return "rfc2217://HOST:PORT, tcp://HOST:PORT or socket://HOST:PORT, HOST an IPv4 address, a host name or "
         "an IPv6 address in brackets (left out: 127.0.0.1), PORT a number from 0 to 65535 (0: any free "
         "port)";
}

} // namespace kv58::sim
