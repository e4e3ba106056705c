#pragma once
// The connection under a network port: bytes to and from a device server, every wait bounded
// by a deadline. Real: POSIX sockets and Winsock (serial/socket_stream.h); a scripted one in
// the tests. It knows nothing of Telnet or of the display.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "serial/network_port.h"
#include "serial/open_failure.h"

namespace kv58 {

using SteadyClock = std::chrono::steady_clock;

// Every network step (the connection, each step of the negotiation, an acknowledgement) is
// bounded by this; device servers' clients in the field give up after 3.4 to 4 s.
inline constexpr std::chrono::milliseconds kNetworkStepTimeout{3000};
// Unacknowledged data older than this ends the connection with an error (TCP_USER_TIMEOUT,
// TCP_MAXRT): a second beyond a step, so that a step times out first and is named.
inline constexpr std::chrono::milliseconds kDeadLinkTimeout = kNetworkStepTimeout + std::chrono::seconds(1);
// A connection silent this long is probed (TCP keepalive), so that one gone dead is noticed
// while nothing is being sent, within kDeadLinkTimeout of the first probe.
inline constexpr std::chrono::seconds kKeepAliveIdle{2};
inline constexpr std::chrono::milliseconds kKeepAliveInterval{500};

// "3 s": a bound as messages give it.
[[nodiscard]] inline std::string SecondsText(std::chrono::milliseconds bound) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(bound).count()) + " s";
}

class ByteStream {
public:
  // The most one Receive takes: a server that floods is read a bounded piece at a time.
  static constexpr std::size_t kMaxChunkBytes = 4096;

  virtual ~ByteStream() = default;
  // Sends all of `bytes` by `deadline`; false on a failed or closed connection, or at the deadline.
  [[nodiscard]] virtual bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) = 0;
  // Appends what has arrived, at most kMaxChunkBytes, waiting for something until `deadline`
  // (a past one: no wait). False once the peer has closed the connection or it failed.
  [[nodiscard]] virtual bool Receive(std::string& into, SteadyClock::time_point deadline) = 0;
  // Waits until the peer has acknowledged every byte sent; false at the deadline. A system
  // that cannot tell answers true at once.
  [[nodiscard]] virtual bool WaitAcknowledged(SteadyClock::time_point deadline) = 0;

protected:
  ByteStream() = default;
  ByteStream(const ByteStream&) = default;
  ByteStream& operator=(const ByteStream&) = default;
};

// Connects to the port's host within `timeout`: the stream, or none with the reason in `failure`.
using StreamConnector = std::function<std::unique_ptr<ByteStream>(
    const NetworkPort& port, std::chrono::milliseconds timeout, OpenFailure& failure)>;

} // namespace kv58
