#pragma once
// Where the simulator's lines go, on the pseudo-terminal and as a device server alike: one
// line an event on its output, complaints on its error stream, the time since it started.
// Once the output cannot be written, nothing more is printed and the simulator ends.

#include <chrono>
#include <string>
#include <string_view>

#include "tools/kv58_sim/sim_event.h"

namespace kv58::sim {

// Writes all of `bytes` to `fd`, across interruptions and partial writes; false on failure.
[[nodiscard]] bool WriteAll(int fd, std::string_view bytes);

class SimOutput {
public:
  SimOutput(int outputFd, int errorFd)
      : outputFd_(outputFd), errorFd_(errorFd), start_(std::chrono::steady_clock::now()) {}

  void Print(const std::string& line);
  void Complain(std::string_view message) const;
  [[nodiscard]] Millis Now() const;
  // The output is a terminal (a console on Windows), where a person reads it.
  [[nodiscard]] bool IsTerminal() const;
  [[nodiscard]] bool Failed() const { return failed_; }
  void Fail() { failed_ = true; }

private:
  int outputFd_;
  int errorFd_;
  std::chrono::steady_clock::time_point start_;
  bool failed_ = false;
};

} // namespace kv58::sim
