#include "tools/kv58_sim/tcp_listener.h"

#include "serial/system_message_win32.h"

// After our own headers, as everywhere <windows.h> comes in.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <mstcpip.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "tools/kv58_sim/bound_address.h"

namespace kv58::sim {
namespace {

// Connections waiting to be accepted; more than one at a time only when a second client comes.
constexpr int kBacklog = 4;
constexpr int kReadChunkBytes = 4096;
// Keepalive: the first probe after 8 s of silence, then one every 2 s; Windows sends ten
// before it ends the connection, 28 s after the client's last sign of life.
constexpr u_long kKeepaliveIdleMs = 8000;
constexpr u_long kKeepaliveIntervalMs = 2000;
constexpr u_long kKeepaliveProbes = 10; // fixed by Windows
static_assert(kKeepaliveIdleMs + kKeepaliveIntervalMs * kKeepaliveProbes <= kDeadClientBoundMs);

SOCKET AsSocket(SocketHandle handle) { return static_cast<SOCKET>(handle); }

// The last Winsock error in words: our own for what a person starting the simulator meets,
// where Wine has no message of the system's.
std::string WinsockError(const std::string& what) {
  switch (const int error = ::WSAGetLastError()) {
  case WSAEADDRINUSE:
    return what + ": the port is in use by another program";
  case WSAEADDRNOTAVAIL:
    return what + ": this computer has no such address";
  case WSAEACCES:
    return what + ": the system does not allow listening there";
  default:
    return what + ": " + SystemMessage(static_cast<std::uint32_t>(error));
  }
}

// Winsock is started once, by the first listener, and left running to the process's end.
bool WinsockStarted(std::string& error) {
  static const int started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) {
    error = "Winsock does not start: " + SystemMessage(static_cast<std::uint32_t>(started));
  }
  return started == 0;
}

// Failures of accept that leave the connection waiting for a later try.
bool IsShortage(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }

void KeepAlive(SOCKET socket) {
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = kKeepaliveIdleMs;
  values.keepaliveinterval = kKeepaliveIntervalMs;
  DWORD returned = 0;
  (void)::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                   nullptr);
}

bool MakeNonBlocking(SOCKET socket) {
  u_long on = 1;
  return ::ioctlsocket(socket, static_cast<long>(FIONBIO), &on) == 0;
}

} // namespace

void Socket::Close() {
  if (handle_ != kNoSocket) {
    ::closesocket(AsSocket(handle_));
    handle_ = kNoSocket;
  }
}

Socket::ReadOutcome Socket::ReadChunk(std::string& into) const {
  std::array<char, kReadChunkBytes> chunk{};
  const int count = ::recv(AsSocket(handle_), chunk.data(), kReadChunkBytes, 0);
  if (count > 0) {
    into.append(chunk.data(), static_cast<std::size_t>(count));
    return ReadOutcome::Data;
  }
  if (count < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) {
    return ReadOutcome::Empty;
  }
  return count < 0 && ::WSAGetLastError() == WSAETIMEDOUT ? ReadOutcome::Lost : ReadOutcome::Closed;
}

long Socket::WriteSome(std::string_view bytes) const {
  const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
  const int count = ::send(AsSocket(handle_), bytes.data(), size, 0);
  if (count >= 0) {
    return count;
  }
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool TcpListener::Open(const ListenAddress& address, std::string& error) {
  const std::string where = NetworkPortName(address);
  if (!WinsockStarted(error)) {
    error = "cannot listen on " + where + ": " + error;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0) {
    error = WinsockError("cannot listen on " + where);
    return false;
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> results(found, ::freeaddrinfo);
  error = "cannot listen on " + where + ": the host has no address";
  for (const addrinfo* candidate = found; candidate != nullptr; candidate = candidate->ai_next) {
    Socket socket(::socket(candidate->ai_family, SOCK_STREAM, IPPROTO_TCP));
    // Without it Windows lets a second program bind the same port and share its clients.
    const BOOL exclusive = TRUE;
    if (!socket.IsOpen() ||
        ::setsockopt(AsSocket(socket.Handle()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0 ||
        ::bind(AsSocket(socket.Handle()), candidate->ai_addr, static_cast<int>(candidate->ai_addrlen)) != 0 ||
        ::listen(AsSocket(socket.Handle()), kBacklog) != 0 || !MakeNonBlocking(AsSocket(socket.Handle()))) {
      error = WinsockError("cannot listen on " + where);
      continue;
    }
    sockaddr_storage local{};
    int length = sizeof local;
    if (::getsockname(AsSocket(socket.Handle()), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      error = WinsockError("cannot listen on " + where);
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
    Socket client(::accept(AsSocket(socket_.Handle()), nullptr, nullptr));
    if (client.IsOpen()) {
      const BOOL on = TRUE;
      (void)::setsockopt(AsSocket(client.Handle()), IPPROTO_TCP, TCP_NODELAY,
                         reinterpret_cast<const char*>(&on), sizeof on);
      KeepAlive(AsSocket(client.Handle()));
      if (MakeNonBlocking(AsSocket(client.Handle()))) {
        return client;
      }
      continue; // a connection the loop could not serve without blocking is let go
    }
    if (IsShortage(::WSAGetLastError())) {
      error = WinsockError("cannot take a client on " + NetworkPortName(bound_));
      return {};
    }
    // A client that gave up while waiting is skipped; anything else means none is waiting.
    if (::WSAGetLastError() != WSAECONNRESET) {
      return {};
    }
  }
}

// Winsock has no limit of open files: its sockets are bounded by memory alone.
bool MakeRoomForSockets(std::size_t /*sockets*/, std::string& /*error*/) { return true; }

bool WaitForSockets(std::span<SocketWatch> watches, int timeoutMs, std::string& error) {
  // WSAPoll takes neither an invalid socket nor an entry that asks for nothing.
  std::vector<WSAPOLLFD> polled;
  std::vector<std::size_t> watchOf;
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].ready = false;
    const auto events =
        static_cast<SHORT>((watches[i].read ? POLLRDNORM : 0) | (watches[i].write ? POLLWRNORM : 0));
    if (watches[i].handle != kNoSocket && events != 0) {
      polled.push_back({AsSocket(watches[i].handle), events, 0});
      watchOf.push_back(i);
    }
  }
  if (::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeoutMs) == SOCKET_ERROR) {
    error = WinsockError("waiting on the sockets failed");
    return false;
  }
  for (std::size_t j = 0; j < polled.size(); ++j) {
    watches[watchOf[j]].ready = polled[j].revents != 0;
  }
  return true;
}

} // namespace kv58::sim
