#pragma once
// The TCP connection to a device server, one implementation per platform (POSIX sockets,
// Winsock) with the same helpers in the same order. Set up so that a dead link becomes an
// error rather than a silent success: TCP_NODELAY, and kDeadLinkTimeout for unacknowledged data.

#include <chrono>
#include <memory>

#include "serial/byte_stream.h"

namespace kv58 {

// A StreamConnector: the connection to `port`'s host and port within `timeout`, or none with
// the kind of failure and the system's words in `failure`.
[[nodiscard]] std::unique_ptr<ByteStream>
ConnectSocket(const NetworkPort& port, std::chrono::milliseconds timeout, OpenFailure& failure);

} // namespace kv58
