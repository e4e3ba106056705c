#include "tools/kv58_sim/sim_output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace kv58::sim {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    // At most what fits in the unsigned int count that Windows's write takes.
    const auto chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const auto count = write(fd, bytes.data(), chunk);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

void SimOutput::Print(const std::string& line) {
  if (failed_) {
    return;
  }
  if (!WriteAll(outputFd_, line + "\n")) {
    Complain(std::string("cannot write the output: ") + std::strerror(errno));
    failed_ = true;
  }
}

void SimOutput::Complain(std::string_view message) const {
  (void)WriteAll(errorFd_, "kv58-sim: " + std::string(message) + "\n");
}

bool SimOutput::IsTerminal() const { return isatty(outputFd_) != 0; }

Millis SimOutput::Now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
      .count();
}

bool OutputBudget::Admit(Millis nowMs, std::size_t receivedBytes) {
  if (nowMs > refilledMs_) {
    room_ = std::min(kBurstBytes, room_ + (nowMs - refilledMs_) * kBytesPerSecond / 1000);
    refilledMs_ = nowMs;
  }
  if (ranOut_ && room_ >= kResumeBytes) {
    ranOut_ = false;
  }
  if (room_ > 0 && !ranOut_) {
    return true;
  }
  ranOut_ = true;
  ++held_.lines;
  held_.bytes += receivedBytes;
  return false;
}

OutputBudget::HeldBack OutputBudget::TakeHeldBack() { return std::exchange(held_, {}); }

} // namespace kv58::sim
