#pragma once
// TLS as a filter over a connected byte stream, below the Telnet codec and the RFC 2217 line,
// which do not know it is there. One implementation per system, mirrored by name and order:
// OpenSSL (tls_stream_openssl.cpp) and SChannel (tls_stream_schannel.cpp). Both ask the same
// trust rules (serial/tls_trust.h) and keep ByteStream's bounds: a Receive hands out at most
// kMaxChunkBytes and keeps at most one record beyond it.

#include <memory>

#include "serial/byte_stream.h"
#include "serial/network_port.h"
#include "serial/open_failure.h" 

namespace kv58 {

// The handshake with `port`'s server over `tcp`, done by `deadline` and checked as
// port.tlsSettings say: the stream that encrypts, or none with the kind and words in `failure`.
[[nodiscard]] std::unique_ptr<ByteStream> StartTls(std::unique_ptr<ByteStream> tcp, const NetworkPort& port,
                                                   SteadyClock::time_point deadline, OpenFailure& failure);

} // namespace kv58
