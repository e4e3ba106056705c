#include "serial/tests/test_support_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace kv58::testing {
namespace {

// Generous: a loaded machine may take a while to move bytes through a pseudo-terminal.
constexpr auto kPatience = std::chrono::seconds(20);

[[noreturn]] void ThrowSystemError(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

PseudoTerminal::PseudoTerminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    ThrowSystemError("posix_openpt");
  }
  char name[128] = {};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    ::close(master_);
    ThrowSystemError("pseudo-terminal slave");
  }
  slavePath_ = name;
}

PseudoTerminal::~PseudoTerminal() { HangUp(); }

void PseudoTerminal::Send(std::string_view bytes) const {
  while (!bytes.empty()) {
    const ssize_t written = ::write(master_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      ThrowSystemError("write to pseudo-terminal");
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string PseudoTerminal::Receive(std::size_t count) const {
  std::string received;
  while (received.size() < count) {
    pollfd watch{master_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || (watch.revents & POLLIN) == 0) {
      break;
    }
    char chunk[4096];
    const ssize_t got = ::read(master_, chunk, std::min(sizeof chunk, count - received.size()));
    if (got <= 0) {
      break;
    }
    received.append(chunk, static_cast<std::size_t>(got));
  }
  return received;
}

void PseudoTerminal::HangUp() {
  if (master_ >= 0) {
    ::close(master_);
    master_ = -1;
  }
}

bool Eventually(const std::function<bool()>& condition) {
  const auto giveUp = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > giveUp) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

} // namespace kv58::testing
