#include "tools/kv58_sim/end_signals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kv58::sim {
namespace {

constexpr std::array<int, 3> kEndingSignals{SIGINT, SIGTERM, SIGHUP};

// The one pipe the handler writes to; a signal handler can reach nothing else.
volatile std::sig_atomic_t gWriteFd = -1;

void OnSignal(int signal) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a wake-up for the loop, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = write(gWriteFd, &byte, 1);
  errno = savedErrno;
}

void SetHandler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  (void)sigaction(signal, &action, nullptr);
}

} // namespace

EndSignals::~EndSignals() {
  if (wake_ == kNoSocket) {
    return;
  }
  for (const int signal : kEndingSignals) {
    SetHandler(signal, SIG_DFL);
  }
  gWriteFd = -1;
  close(wake_);
  close(sender_);
}

bool EndSignals::Install(std::string& error) {
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("cannot make the signal pipe: ") + std::strerror(errno);
    return false;
  }
  wake_ = ends[0];
  sender_ = ends[1];
  gWriteFd = sender_;
  for (const int signal : kEndingSignals) {
    SetHandler(signal, OnSignal);
  }
  SetHandler(SIGPIPE, SIG_IGN);
  return true;
}

int EndSignals::Take() const {
  unsigned char byte = 0;
  return read(wake_, &byte, 1) == 1 ? byte : 0;
}

std::string SignalName(int signal) {
  switch (signal) {
  case SIGINT:
    return "SIGINT";
  case SIGTERM:
    return "SIGTERM";
  case SIGHUP:
    return "SIGHUP";
  default:
    return "signal " + std::to_string(signal);
  }
}

} // namespace kv58::sim
