#pragma once
// The simulator's end of a network line: a listening TCP socket and the connections it takes,
// all non-blocking, for the poll loop. POSIX sockets only.

#include <string>
#include <string_view>

#include "tools/kv58_sim/listen_address.h"

namespace kv58::sim {

// A socket closed when it goes away; moves, does not copy.
class Socket {
public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  [[nodiscard]] int Fd() const { return fd_; }
  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  void Close();

  enum class ReadOutcome { Data, Empty, Closed };
  // Appends what has arrived, one read's worth, without waiting. A reset counts as closed.
  [[nodiscard]] ReadOutcome ReadChunk(std::string& into) const;
  // Sends what the socket takes now, without waiting; -1 once the peer has gone.
  [[nodiscard]] long WriteSome(std::string_view bytes) const;

private:
  int Release();
  int fd_ = -1;
};

class TcpListener {
public:
  // Binds and listens, the host looked up if it is a name. The error in words on failure.
  [[nodiscard]] bool Open(const ListenAddress& address, std::string& error);

  // The address listened on, with the port the system picked for port 0.
  [[nodiscard]] const ListenAddress& Bound() const { return bound_; }
  [[nodiscard]] int Fd() const { return socket_.Fd(); }

  // The next waiting connection, non-blocking and without Nagle's delay; a closed Socket
  // when none is waiting.
  [[nodiscard]] Socket Accept() const;

private:
  Socket socket_;
  ListenAddress bound_;
};

} // namespace kv58::sim
