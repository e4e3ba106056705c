#pragma once
// The addresses of a device server's host, looked up within a deadline on every system.
// getaddrinfo has no time-out of its own, and a resolver that does not answer would hold the
// caller for as long as it likes: a name is looked up on the process's bounded pool of look-up
// threads (NameLookUpPool); an address needs no resolver, and no thread. Include after the
// system's socket headers.

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "serial/bounded_call.h"
#include "serial/byte_stream.h"
#include "serial/network_port.h"

namespace kv58 {

struct AddressLookUp {
  int error = 0;       // getaddrinfo's result
  int systemError = 0; // errno after it, for EAI_SYSTEM
  addrinfo* found = nullptr;
};

// The look-up's result, `found` for the caller to free, with Done; otherwise how it ended: the
// deadline, a stop request, or no thread for it.
[[nodiscard]] inline BoundedCallPool::Outcome<AddressLookUp>
LookUpAddresses(const std::string& host, const std::string& service, const addrinfo& hints,
                std::chrono::steady_clock::time_point deadline, BoundedCallPool& pool = NameLookUpPool()) {
  addrinfo numeric = hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  AddressLookUp asAddress;
  asAddress.error = ::getaddrinfo(host.c_str(), service.c_str(), &numeric, &asAddress.found);
  if (asAddress.error == 0) {
    return {BoundedCallPool::End::Done, asAddress};
  }
  return pool.Call<AddressLookUp>(
      [host, service, hints] {
        AddressLookUp result;
        result.error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result.found);
        result.systemError = errno;
        return result;
      },
      [](AddressLookUp& late) {
        if (late.error == 0) {
          ::freeaddrinfo(late.found);
        }
      },
      deadline);
}

// Why a look-up that did not end with the resolver's answer failed, in the words of a message.
[[nodiscard]] inline OpenFailure LookUpFailure(const NetworkPort& port, BoundedCallPool::End end,
                                               std::chrono::milliseconds bound) {
  using Kind = OpenFailure::Kind;
  switch (end) {
  case BoundedCallPool::End::Stopped:
    return {Kind::Interrupted, "interrupted while looking up " + port.host};
  case BoundedCallPool::End::NoThread:
    return {Kind::NoThread, "the system would not start a thread to look up " + port.host};
  case BoundedCallPool::End::TimedOut:
  case BoundedCallPool::End::Done:
    break;
  }
  return {Kind::LookUpTimedOut,
          "the name look-up of " + port.host + " did not end within " + SecondsText(bound)};
}

// Every address `port`'s host reaches, "ADDRESS:PORT" (IPv6 in brackets), sorted and without
// repeats; none when the look-up fails, runs out of time or a stop ends it. The sockets
// (Winsock started) are the caller's.
[[nodiscard]] inline std::optional<std::vector<std::string>>
LookedUpEndpoints(const NetworkPort& port, std::chrono::steady_clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  const auto lookUp = LookUpAddresses(port.host, std::to_string(port.port), hints, deadline);
  if (lookUp.end != BoundedCallPool::End::Done || lookUp.value->error != 0) {
    return std::nullopt;
  }
  constexpr int kHostBytes = 1025; // NI_MAXHOST
  std::vector<std::string> endpoints;
  for (const addrinfo* address = lookUp.value->found; address != nullptr; address = address->ai_next) {
    std::array<char, kHostBytes> host{};
    if (::getnameinfo(address->ai_addr, static_cast<socklen_t>(address->ai_addrlen), host.data(), kHostBytes,
                      nullptr, 0, NI_NUMERICHOST) == 0) {
      endpoints.push_back(HostAndPort(NetworkPort{NetworkPort::Mode::Raw, host.data(), port.port}));
    }
  }
  ::freeaddrinfo(lookUp.value->found);
  std::sort(endpoints.begin(), endpoints.end());
  endpoints.erase(std::unique(endpoints.begin(), endpoints.end()), endpoints.end());
  return endpoints;
}

} // namespace kv58
