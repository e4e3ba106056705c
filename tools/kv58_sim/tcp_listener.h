#pragma once
// The simulator's end of a network line: a listening TCP socket, the connections it takes,
// all non-blocking, and the one wait of its loop on several of them. POSIX sockets in
// tcp_listener_posix.cpp, Winsock in tcp_listener_win32.cpp.
// A client whose link dies without a close (its computer switched off, a cable pulled) is
// found by TCP keepalive and a bound on unacknowledged data: its connection fails within
// kDeadClientBoundMs and the address is free for the next client.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "tools/kv58_sim/listen_address.h"

namespace kv58::sim {

// How long a client that stopped answering can hold its connection, at most.
inline constexpr int kDeadClientBoundMs = 30'000;

#ifdef _WIN32
using SocketHandle = std::uintptr_t; // Winsock's SOCKET
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};
#else
using SocketHandle = int; // any descriptor poll takes, the signal pipe's among them
inline constexpr SocketHandle kNoSocket = -1;
#endif

// A socket closed when it goes away; moves, does not copy.
class Socket {
public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  [[nodiscard]] SocketHandle Handle() const { return handle_; }
  [[nodiscard]] bool IsOpen() const { return handle_ != kNoSocket; }
  void Close();
  // Gives the socket up without closing it.
  [[nodiscard]] SocketHandle Release() { return std::exchange(handle_, kNoSocket); }

  // Lost: the client stopped answering (keepalive or retransmissions timed out).
  enum class ReadOutcome { Data, Empty, Closed, Lost };
  // Appends what has arrived, one read's worth, without waiting. A reset counts as closed.
  [[nodiscard]] ReadOutcome ReadChunk(std::string& into) const;
  // Sends what the socket takes now, without waiting; -1 once the peer has gone.
  [[nodiscard]] long WriteSome(std::string_view bytes) const;

private:
  SocketHandle handle_ = kNoSocket;
};

class TcpListener {
public:
  // Binds and listens, the host looked up if it is a name. The error in words on failure.
  [[nodiscard]] bool Open(const ListenAddress& address, std::string& error);

  // The address listened on, with the port the system picked for port 0.
  [[nodiscard]] const ListenAddress& Bound() const { return bound_; }
  [[nodiscard]] SocketHandle Handle() const { return socket_.Handle(); }
  // Bound to a loopback address (127.0.0.0/8, ::1): only this computer can connect.
  [[nodiscard]] bool Loopback() const { return loopback_; }

  // The next waiting connection, non-blocking, without Nagle's delay and with keepalive; a
  // closed Socket when none is waiting. A closed Socket and the error in words when the
  // system could not hand one over (out of open files, say): the connection stays waiting.
  [[nodiscard]] Socket Accept(std::string& error) const;

private:
  Socket socket_;
  ListenAddress bound_;
  bool loopback_ = false;
};

// Makes room for `sockets` sockets at once beside the process's own files: the limit of open
// files raised as far as the system allows. False, with the reason in words, when they cannot
// all fit.
[[nodiscard]] bool MakeRoomForSockets(std::size_t sockets, std::string& error);

// One handle the loop waits on: for reading, for writing, or both. `ready` tells afterwards
// that it can be served (readable, writable, closed or failed).
struct SocketWatch {
  SocketHandle handle = kNoSocket; // kNoSocket: left out of the wait
  bool read = false;
  bool write = false;
  bool ready = false;
};

// Waits until one of `watches` is ready or `timeoutMs` has passed (-1: no limit); an
// interrupted wait returns with nothing ready. False, with the error in words, when the wait
// itself failed.
[[nodiscard]] bool WaitForSockets(std::span<SocketWatch> watches, int timeoutMs, std::string& error);

} // namespace kv58::sim
