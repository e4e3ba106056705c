#pragma once
// Port names of displays behind a serial-to-Ethernet device server (ser2net, Moxa NPort and
// the like), beside the COMn names of local ports:
//   rfc2217://HOST:PORT  Telnet with RFC 2217, which also carries the line settings
//   tcp://HOST:PORT      raw bytes; socket://HOST:PORT is the same, as other serial tools name it
//   rfc2217+tls://HOST:PORT, tcp+tls://HOST:PORT  the same inside TLS, with options as a query:
//                        ?pin=SHA256:…&ca=FILE&name=NAME&cert=FILE&key=FILE
// HOST is a host name, an IPv4 address, or an IPv6 address in brackets ([::1]). Nothing else may
// follow the port: no path, no user. ParsePortName (serial/port_name.h) reads them.

#include <cstdint>
#include <string>
#include <utility>

namespace kv58 {

// What a TLS connection must prove of the server and may present of the client. An empty
// field was not given. Trust: a pin decides alone; else the CA file, and only it; else the
// system's store. Without a pin the server's name is always checked. Every field starts empty,
// so that TlsSettings{.caFile = …} names only what is given.
struct TlsSettings {
  std::string pinSha256{};    // SHA-256 of the server certificate's DER: 64 lower-case hex digits
  std::string caFile{};       // PEM: the one CA that vouches for the server
  std::string expectedName{}; // the name the certificate must carry; empty: the host
  std::string certFile{};     // the client's certificate: PEM (Linux); PFX or a store's (Windows)
  std::string keyFile{};      // the client's key (PEM, Linux)

  friend bool operator==(const TlsSettings&, const TlsSettings&) = default;
};

struct NetworkPort {
  enum class Mode { Rfc2217, Raw };

  NetworkPort() = default;
  // A port in clear; TLS is set on it afterwards.
  NetworkPort(Mode mode_, std::string host_, std::uint16_t port_)
      : mode(mode_), host(std::move(host_)), port(port_) {}

  Mode mode = Mode::Raw;
  std::string host;       // as given, without the brackets of an IPv6 address
  std::uint16_t port = 0; // 1 to 65535
  bool tls = false;       // the connection runs inside TLS, checked as `tlsSettings` say
  TlsSettings tlsSettings;
};

// "HOST:PORT", an IPv6 address in brackets: the server as messages name it.
[[nodiscard]] std::string HostAndPort(const NetworkPort& port);

// The name as the program writes it: the scheme in lower case, "tcp" for raw bytes.
[[nodiscard]] std::string NetworkPortName(const NetworkPort& port);

} // namespace kv58
