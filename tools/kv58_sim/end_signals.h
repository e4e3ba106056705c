#pragma once
// What ends the simulator from outside, turned into something its loop can wait on beside
// its sockets and terminal.
//   POSIX: SIGINT, SIGTERM and SIGHUP become bytes on a pipe; SIGPIPE is ignored, so a
//   closed output pipe shows up as a failed write instead.
//   Windows: Ctrl+C, Ctrl+Break and the console window's closing become a datagram on a
//   loopback socket; Windows runs the console's handler on a thread of its own.

#include <string>

#include "tools/kv58_sim/tcp_listener.h"

namespace kv58::sim {

class EndSignals {
public:
  EndSignals() = default;
  ~EndSignals();
  EndSignals(const EndSignals&) = delete;
  EndSignals& operator=(const EndSignals&) = delete;

  // Only one may be installed at a time in a process.
  [[nodiscard]] bool Install(std::string& error);
  // Readable once an ending signal has come.
  [[nodiscard]] SocketHandle WakeHandle() const { return wake_; }
  // The next signal received, or 0 when none is waiting.
  [[nodiscard]] int Take() const;

private:
  SocketHandle wake_ = kNoSocket;
  SocketHandle sender_ = kNoSocket;
};

// "SIGINT", "SIGTERM", "SIGHUP" (on Windows "Ctrl+C", "Ctrl+Break", "console closed"), or
// "signal N".
[[nodiscard]] std::string SignalName(int signal);

} // namespace kv58::sim
