#pragma once
// Where the simulator's lines go, on the pseudo-terminal and as a device server alike: one
// line an event on its output, complaints on its error stream, the time since it started.
// Once the output cannot be written, nothing more is printed and the simulator ends.
// OutputBudget holds what one client can make it print to a rate, so a flood is summed up
// rather than echoed line by line.

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// Room for kBurstBytes of lines at once, refilled by kBytesPerSecond: enough for every line
// a program's session makes (a full text shown whole among them), too little for a flood to
// fill a disk. What finds no room is counted, to be said in one line.
class OutputBudget {
public:
  static constexpr std::int64_t kBurstBytes = std::int64_t{256} * 1024;
  static constexpr std::int64_t kBytesPerSecond = std::int64_t{32} * 1024;
  // Once the room has run out, lines wait until this much is back: a flood then shows as a
  // summary and a handful of lines a few times a second, not as a summary between every two.
  static constexpr std::int64_t kResumeBytes = std::int64_t{4} * 1024;

  struct HeldBack {
    std::size_t lines = 0;
    std::size_t bytes = 0; // the bytes received that made those lines
  };

  // Whether a line may be printed at nowMs. When not, it is counted as held back, with the
  // received bytes it stood for.
  [[nodiscard]] bool Admit(Millis nowMs, std::size_t receivedBytes);
  // A printed line's length, taken from the room.
  void Spend(std::size_t lineBytes) { room_ -= static_cast<std::int64_t>(lineBytes); }
  // What was held back since the last call.
  [[nodiscard]] HeldBack TakeHeldBack();

private:
  std::int64_t room_ = kBurstBytes;
  bool ranOut_ = false;
  Millis refilledMs_ = 0;
  HeldBack held_;
};

} // namespace kv58::sim
