#pragma once
// What a listening socket is bound to, as the simulator prints it: the address asked for,
// with the port the system picked for port 0 and the host as a numeric address. Both
// systems name these calls alike: include after the system's socket headers.

#include <algorithm>
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

// 127.0.0.0/8, ::1, or 127.0.0.0/8 mapped into IPv6.
[[nodiscard]] inline bool IsLoopback(const sockaddr_storage& local) {
  if (local.ss_family == AF_INET) {
    const auto& address = reinterpret_cast<const sockaddr_in&>(local).sin_addr;
    return (ntohl(address.s_addr) >> 24) == 127;
  }
  if (local.ss_family != AF_INET6) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const sockaddr_in6&>(local).sin6_addr.s6_addr;
  constexpr std::array<unsigned char, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  const bool zeros = std::all_of(bytes, bytes + 15, [](unsigned char byte) { return byte == 0; });
  return (zeros && bytes[15] == 1) ||
         (std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes) && bytes[12] == 127);
}

} // namespace kv58::sim
