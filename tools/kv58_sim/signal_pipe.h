#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into bytes on a pipe, so the simulator's poll loop wakes
// for them and can take its link away before it ends. SIGPIPE is ignored: a closed output
// pipe shows up as a failed write instead.

#include <string>

namespace kv58::sim {

class SignalPipe {
public:
  SignalPipe() = default;
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // Only one may be installed at a time in a process.
  [[nodiscard]] bool Install(std::string& error);
  [[nodiscard]] int ReadFd() const { return readFd_; }
  // The next signal received, or 0 when none is waiting.
  [[nodiscard]] int Take() const;

private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

// "SIGINT", "SIGTERM", "SIGHUP", or "signal N".
[[nodiscard]] std::string SignalName(int signal);

} // namespace kv58::sim
