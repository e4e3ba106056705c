#pragma once
// The addresses of a device server's host, looked up within a deadline on every system.
// getaddrinfo has no time-out of its own, and a resolver that does not answer would hold the
// caller for as long as it likes: a name is looked up on the process's bounded pool of look-up
// threads (NameLookUpPool); an address needs no resolver, and no thread. Include after the
// system's socket headers.

#include <cerrno>
#include <string>

#include "serial/bounded_call.h"
#include "serial/byte_stream.h"

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

} // namespace kv58
