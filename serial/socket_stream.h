#pragma once
// The TCP connection to a device server, one implementation per platform (POSIX sockets,
// Winsock) with the same helpers in the same order. Set up so that a dead link becomes an
// error rather than a silent success: TCP_NODELAY, and kDeadLinkTimeout for unacknowledged data.
// A request of the user's to stop ends the look-up and the connection at once: kind Interrupted.

#include <chrono>
#include <memory>

#include "serial/bounded_call.h"
#include "serial/byte_stream.h"

namespace kv58 {

// The real TCP connector: the connection to `port`'s host and port within `timeout`, or none
// with the kind of failure and the system's words in `failure`. A name is looked up on
// `lookUps`, which must outlast the connector.
[[nodiscard]] StreamConnector SocketConnector(BoundedCallPool& lookUps = NameLookUpPool());

} // namespace kv58
