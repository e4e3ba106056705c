#include "tools/kv58_sim/sim_output.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kv58::sim {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = write(fd, bytes.data(), bytes.size());
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

Millis SimOutput::Now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
      .count();
}

} // namespace kv58::sim
