#pragma once
// The TCP connection to a device server, one implementation per platform (POSIX sockets,
// Winsock). Set up so that a dead link becomes an error rather than a silent success:
// TCP_NODELAY, and a user time-out of a few seconds for unacknowledged data.

#include <chrono>
#include <memory>
#include <string>

#include "serial/network_line.h"

namespace kv58 {

// A StreamConnector: the connection to `port`'s host and port within `timeout`, or none
// with the system's reason in `error`.
[[nodiscard]] std::unique_ptr<ByteStream>
ConnectSocket(const NetworkPort& port, std::chrono::milliseconds timeout, std::string& error);

} // namespace kv58
