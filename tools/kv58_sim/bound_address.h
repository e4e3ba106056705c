#pragma once
// What a listening socket is bound to, as the simulator prints it: the address asked for,
// with the port the system picked for port 0 and the host as a numeric address. Both
// systems name these calls alike: include after the system's socket headers.

#include <array>

#include "tools/kv58_sim/listen_address.h"

namespace kv58::sim {

[[nodiscard]] inline ListenAddress BoundAddress(ListenAddress asked, const sockaddr_storage& local,
                                                socklen_t length) {
  const auto* any = reinterpret_cast<const sockaddr*>(&local);
  asked.port = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(any)->sin6_port
                                                 : reinterpret_cast<const sockaddr_in*>(any)->sin_port);
  std::array<char, NI_MAXHOST> host{};
  if (::getnameinfo(any, length, host.data(), NI_MAXHOST, nullptr, 0, NI_NUMERICHOST) == 0) {
    asked.host = host.data();
  }
  return asked;
}

} // namespace kv58::sim
