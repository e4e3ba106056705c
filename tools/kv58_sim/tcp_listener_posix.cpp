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
#include <sys/resource.h>
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
// Keepalive: the first probe after 10 s of silence, then one every 5 s; three unanswered end
// the connection, 25 s after the client's last sign of life. Data the client does not
// acknowledge ends it after as long.
constexpr int kKeepaliveIdleSeconds = 10;
constexpr int kKeepaliveIntervalSeconds = 5;
constexpr int kKeepaliveProbes = 3;
constexpr unsigned kUnacknowledgedMs = 25'000;
static_assert(kKeepaliveIdleSeconds * 1000 + kKeepaliveIntervalSeconds * 1000 * kKeepaliveProbes <=
              kDeadClientBoundMs);
static_assert(kUnacknowledgedMs <= kDeadClientBoundMs);
// Files the process holds besides its sockets: standard streams, the signal pipe, a file to push.
constexpr rlim_t kOwnFiles = 16;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Failures of accept that leave the connection waiting for a later try.
bool IsShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

void KeepAlive(int socket) {
  const int on = 1;
  (void)setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  (void)setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepaliveIdleSeconds, sizeof kKeepaliveIdleSeconds);
  (void)setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepaliveIntervalSeconds,
                   sizeof kKeepaliveIntervalSeconds);
  (void)setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &kKeepaliveProbes, sizeof kKeepaliveProbes);
  (void)setsockopt(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedMs, sizeof kUnacknowledgedMs);
}

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
    return count < 0 && errno == ETIMEDOUT ? ReadOutcome::Lost : ReadOutcome::Closed;
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
    loopback_ = IsLoopback(local);
    socket_ = std::move(socket);
    return true;
  }
  return false;
}

Socket TcpListener::Accept(std::string& error) const {
  for (;;) {
    Socket client(accept4(socket_.Handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (client.IsOpen()) {
      const int on = 1;
      (void)setsockopt(client.Handle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      KeepAlive(client.Handle());
      return client;
    }
    if (IsShortage(errno)) {
      error = SystemError("cannot take a client on " + NetworkPortName(bound_));
      return {};
    }
    // A client that gave up while waiting is skipped; anything else means none is waiting.
    if (errno != EINTR && errno != ECONNABORTED) {
      return {};
    }
  }
}

bool MakeRoomForSockets(std::size_t sockets, std::string& error) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) {
    return true; // nothing known to check against
  }
  if (files.rlim_cur < files.rlim_max) {
    rlimit raised = files;
    raised.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      files = raised;
    }
  }
  const rlim_t needed = static_cast<rlim_t>(sockets) + kOwnFiles;
  if (files.rlim_cur == RLIM_INFINITY || files.rlim_cur >= needed) {
    return true;
  }
  error = "they need about " + std::to_string(needed) + " open files, and the limit is " +
          std::to_string(files.rlim_cur) + ", as far as the system lets it be raised (ulimit -Hn)";
  return false;
}

bool WaitForSockets(std::span<SocketWatch> watches, int timeoutMs, std::string& error) {
  // Only the sockets watched go to poll: it refuses more entries than the open-file limit.
  std::vector<pollfd> polled;
  std::vector<std::size_t> watchOf;
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].ready = false;
    const auto events = static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
    if (watches[i].handle != kNoSocket && events != 0) {
      polled.push_back({watches[i].handle, events, 0});
      watchOf.push_back(i);
    }
  }
  if (poll(polled.data(), polled.size(), timeoutMs) < 0 && errno != EINTR) {
    error = SystemError("poll failed");
    return false;
  }
  for (std::size_t j = 0; j < polled.size(); ++j) {
    watches[watchOf[j]].ready = polled[j].revents != 0;
  }
  return true;
}

} // namespace kv58::sim
