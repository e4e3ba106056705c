#pragma once
// The addresses of a device server's host, looked up within a deadline on every system.
// getaddrinfo has no time-out of its own, and a resolver that does not answer would hold the
// caller for as long as it likes: a name is looked up on a thread of its own (CallWithin); an
// address needs no resolver, and no thread. Include after the system's socket headers.

#include <cerrno>
#include <optional>
#include <string>

#include "serial/bounded_call.h"

namespace kv58 {

struct AddressLookUp {
  int error = 0;       // getaddrinfo's result
  int systemError = 0; // errno after it, for EAI_SYSTEM
  addrinfo* found = nullptr;
};

// The look-up's result, `found` for the caller to free; none when the deadline or a stop
// request came first.
[[nodiscard]] inline std::optional<AddressLookUp>
LookUpAddresses(const std::string& host, const std::string& service, const addrinfo& hints,
                std::chrono::steady_clock::time_point deadline) {
  addrinfo numeric = hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  AddressLookUp asAddress;
  asAddress.error = ::getaddrinfo(host.c_str(), service.c_str(), &numeric, &asAddress.found);
  if (asAddress.error == 0) {
    return asAddress;
  }
  return CallWithin<AddressLookUp>(
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

} // namespace kv58
