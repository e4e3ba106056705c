#pragma once
// Servers and clients of the tests' own on 127.0.0.1 (POSIX sockets): the address, a
// listening socket, a client connection, a port nothing listens on.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace kv58::testing {

[[nodiscard]] inline sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

struct Listener {
  int fd = -1; // -1 when it could not listen
  int port = 0;
};

// A socket listening on 127.0.0.1:`port`, 0 for a free port.
[[nodiscard]] inline Listener ListenOnLoopback(int port = 0, int backlog = 8) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = LoopbackAddress(port);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return {};
  }
  return {fd, ntohs(address.sin_port)};
}

// A client connection to 127.0.0.1:`port`; -1 when refused.
[[nodiscard]] inline int ConnectToLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A port on 127.0.0.1 that nothing listens on at the moment.
[[nodiscard]] inline int FreeLoopbackPort() {
  const Listener probe = ListenOnLoopback();
  ::close(probe.fd);
  return probe.port;
}

} // namespace kv58::testing
