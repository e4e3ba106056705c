#include "tools/kv58_sim/pseudo_terminal.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kv58::sim {
namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Raw bytes both ways: no echo, no line editing, no CR/LF translation, 8 data bits.
bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    return false;
  }
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

PseudoTerminal::~PseudoTerminal() {
  if (master_ >= 0) {
    close(master_);
  }
}

bool PseudoTerminal::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error = SystemError("cannot open a pseudo-terminal");
    return false;
  }
  std::array<char, 128> name{};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name.data(), name.size()) != 0) {
    error = SystemError("cannot set up the pseudo-terminal");
    return false;
  }
  slavePath_ = name.data();
  if (!SetNonBlocking(master_) || !MakeRaw(master_)) {
    error = SystemError("cannot configure the pseudo-terminal");
    return false;
  }
  // The master reports a hang-up only once a slave has been opened and closed; opening it
  // here once gives the "nobody has the port" state from the start.
  return ResetSlave(error);
}

bool PseudoTerminal::ResetSlave(std::string& error) {
  const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    error = SystemError("cannot reopen " + slavePath_ + " to reset it") +
            (errno == EBUSY ? " (the program that closed it left it exclusive)" : "");
    return false;
  }
  (void)ioctl(slave, TIOCNXCL);
  const bool raw = MakeRaw(slave);
  if (!raw) {
    error = SystemError("cannot put " + slavePath_ + " in raw mode");
  }
  // Only the input side: what the program sent is already read, and flushing the other
  // side would reach into the master's queue.
  (void)tcflush(slave, TCIFLUSH);
  close(slave);
  return raw;
}

LineState PseudoTerminal::Look() const {
  pollfd entry{master_, POLLIN | POLLOUT, 0};
  if (poll(&entry, 1, 0) < 0) {
    return {};
  }
  const auto has = [&entry](short flag) { return (entry.revents & flag) != 0; };
  return LineState{!has(POLLHUP) && !has(POLLERR), has(POLLIN), has(POLLOUT)};
}

PseudoTerminal::ReadOutcome PseudoTerminal::ReadChunk(std::string& into) const {
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t count = read(master_, buffer.data(), buffer.size());
    if (count > 0) {
      into.append(buffer.data(), static_cast<std::size_t>(count));
      return ReadOutcome::Data;
    }
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return ReadOutcome::Empty;
    }
    // Linux gives EIO once the last slave is closed and everything it sent has been read.
    return count == 0 || errno == EIO ? ReadOutcome::HungUp : ReadOutcome::Failed;
  }
}

long PseudoTerminal::WriteSome(std::string_view bytes) const {
  for (;;) {
    const ssize_t count = write(master_, bytes.data(), bytes.size());
    if (count >= 0) {
      return count;
    }
    if (errno == EINTR) {
      continue;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

} // namespace kv58::sim
