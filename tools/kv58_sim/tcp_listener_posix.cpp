#include "tools/kv58_sim/tcp_listener.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tools/kv58_sim/bound_address.h"

namespace kv58::sim {
namespace {

// Connections waiting to be accepted; more than one at a time only when a second client comes.
constexpr int kBacklog = 4;
constexpr std::size_t kReadChunkBytes = 4096;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

} // namespace

void Socket::Close() {
  if (handle_ != kNoSocket) {
    close(handle_);
    handle_ = kNoSocket;
  }
}

Socket::ReadOutcome Socket::ReadChunk(std::string& into) const {
  std::array<char, kReadChunkBytes> chunk{};
  for (;;) {
    const ssize_t count = recv(handle_, chunk.data(), chunk.size(), 0);
    if (count > 0) {
      into.append(chunk.data(), static_cast<std::size_t>(count));
      return ReadOutcome::Data;
    }
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return ReadOutcome::Empty;
    }
    return ReadOutcome::Closed;
  }
}

long Socket::WriteSome(std::string_view bytes) const {
  for (;;) {
    const ssize_t count = send(handle_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count >= 0) {
      return static_cast<long>(count);
    }
    if (errno == EINTR) {
      continue;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

bool TcpListener::Open(const ListenAddress& address, std::string& error) {
  const std::string where = NetworkPortName(address);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (const int failed = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); failed != 0) {
    error = "cannot listen on " + where + ": " + gai_strerror(failed);
    return false;
  }
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> results(found, freeaddrinfo);
  error = "cannot listen on " + where + ": the host has no address";
  for (const addrinfo* candidate = found; candidate != nullptr; candidate = candidate->ai_next) {
    Socket socket(::socket(candidate->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!socket.IsOpen() || setsockopt(socket.Handle(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(socket.Handle(), candidate->ai_addr, candidate->ai_addrlen) != 0 ||
        listen(socket.Handle(), kBacklog) != 0) {
      error = SystemError("cannot listen on " + where);
      continue;
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(socket.Handle(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      error = SystemError("cannot listen on " + where);
      continue;
    }
    bound_ = BoundAddress(address, local, length);
    socket_ = std::move(socket);
    return true;
  }
  return false;
}

Socket TcpListener::Accept() const {
  for (;;) {
    Socket client(accept4(socket_.Handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (client.IsOpen()) {
      const int on = 1;
      (void)setsockopt(client.Handle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return client;
    }
    // A client that gave up while waiting is skipped; anything else means none is waiting.
    if (errno != EINTR && errno != ECONNABORTED) {
      return {};
    }
  }
}

bool WaitForSockets(std::span<SocketWatch> watches, int timeoutMs, std::string& error) {
  std::vector<pollfd> polled;
  polled.reserve(watches.size());
  for (const SocketWatch& watch : watches) {
    const auto events = static_cast<short>((watch.read ? POLLIN : 0) | (watch.write ? POLLOUT : 0));
    polled.push_back({watch.handle, events, 0}); // poll passes over a negative descriptor
  }
  if (poll(polled.data(), polled.size(), timeoutMs) < 0 && errno != EINTR) {
    error = SystemError("poll failed");
    return false;
  }
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].ready = polled[i].revents != 0;
  }
  return true;
}

} // namespace kv58::sim
