#include "serial/serial_driver_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "common/stop_request.h"
#include "serial/line_settings_posix.h"
#if defined(__linux__)
#include "serial/custom_rate_linux.h"
#endif

namespace kv58 {
namespace {

using Clock = std::chrono::steady_clock;

PortHandle HandleOf(int fd) { return static_cast<PortHandle>(fd) + 1; }

// ---- opening --------------------------------------------------------------------------

OpenFailure OpenFailureOf(int error) {
  switch (error) {
  case ENOENT:
  case ENXIO:
  case ENODEV:
    return OpenFailure{OpenFailure::Kind::Missing, {}};
  case EWOULDBLOCK: // the lock of another holder
  case EBUSY:       // held exclusively by another program
    return OpenFailure{OpenFailure::Kind::InUse, {}};
  case EACCES:
  case EPERM:
    return OpenFailure{OpenFailure::Kind::AccessDenied, {}};
  case ENOTTY:
    return OpenFailure{OpenFailure::Kind::NotSerial, {}};
  default:
    return OpenFailure{OpenFailure::Kind::Other, std::strerror(error)};
  }
}

// The descriptor, or -1 with the reason in `failure`.
int OpenExclusively(const char* path, OpenFailure& failure) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failure = OpenFailureOf(errno);
    return -1;
  }
  // flock keeps out a second holder, root included; TIOCEXCL keeps out programs that do
  // not take the lock (root excepted).
  int error = 0;
  if (::isatty(fd) == 0) {
    error = ENOTTY;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::close(fd);
    failure = OpenFailureOf(error);
    return -1;
  }
  return fd;
}

bool CloseDescriptor(int fd) {
  // TIOCEXCL outlives the descriptor on a tty that stays in use (a pseudo-terminal whose
  // other end is open), so it is lifted before closing.
  (void)::ioctl(fd, TIOCNXCL);
  (void)::flock(fd, LOCK_UN);
  // On Linux the descriptor is gone even when close reports EINTR.
  return ::close(fd) == 0 || errno == EINTR;
}

// ---- line settings --------------------------------------------------------------------

bool HungUp(int fd) {
  pollfd watch{fd, 0, 0};
  int ready = 0;
  do {
    ready = ::poll(&watch, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready < 0 || (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::optional<std::uint32_t> ReadRate(int fd, const termios& attributes) {
  if (auto rate = RateOfSpeedConstant(::cfgetospeed(&attributes))) {
    return rate;
  }
#if defined(__linux__)
  return ReadCustomRate(fd);
#else
  (void)fd;
  return std::nullopt;
#endif
}

#if defined(__linux__)
KernelLineFlags KernelFlagsOf(const termios& attributes) {
  KernelLineFlags flags;
  flags.iflag = attributes.c_iflag;
  flags.oflag = attributes.c_oflag;
  flags.cflag = attributes.c_cflag;
  flags.lflag = attributes.c_lflag;
  flags.line = attributes.c_line;
  std::copy_n(std::begin(attributes.c_cc), std::min(std::size(attributes.c_cc), flags.controlChars.size()),
              flags.controlChars.begin());
  return flags;
}
#endif

bool Apply(int fd, LineSettings settings) {
  if (const auto speed = SpeedConstantOfRate(settings.rate)) {
    return ::cfsetispeed(&settings.attributes, *speed) == 0 &&
           ::cfsetospeed(&settings.attributes, *speed) == 0 &&
           ::tcsetattr(fd, TCSANOW, &settings.attributes) == 0;
  }
#if defined(__linux__)
  return ApplyWithCustomRate(fd, KernelFlagsOf(settings.attributes), settings.rate);
#else
  return false;
#endif
}

// The DCB as the tty holds it now; members a termios cannot tell keep the values of `dcb`.
bool ReadBack(int fd, DCB& dcb) {
  termios attributes{};
  if (::tcgetattr(fd, &attributes) != 0) {
    return false;
  }
  const auto rate = ReadRate(fd, attributes);
  if (!rate) {
    return false;
  }
  ReadLineSettings(attributes, *rate, dcb);
  return true;
}

// ---- modem lines ----------------------------------------------------------------------

// Pseudo-terminals and some adapters have no modem lines: that is no failure.
bool LacksModemLines(int error) { return error == ENOTTY || error == EINVAL; }

bool SetModemLine(int fd, int line, bool on) {
  return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || LacksModemLines(errno);
}

bool ApplyModemLines(int fd, const DCB& dcb) {
  bool applied = SetModemLine(fd, TIOCM_DTR, dcb.fDtrControl == DTR_CONTROL_ENABLE);
  if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) {
    applied = SetModemLine(fd, TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE) && applied;
  }
  return applied;
}

void ReadModemLines(int fd, DCB& dcb) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) {
    return; // no modem lines: the DCB keeps what it said
  }
  dcb.fDtrControl = (lines & TIOCM_DTR) != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  if (dcb.fOutxCtsFlow == 0) {
    dcb.fRtsControl = (lines & TIOCM_RTS) != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  }
}

// ---- writing --------------------------------------------------------------------------

enum class Wait { Writable, TimedOut, Failed };

std::optional<Clock::time_point> WriteDeadline(const COMMTIMEOUTS& timeouts, std::uint32_t count) {
  const auto timeout = TotalWriteTimeout(timeouts, count);
  return timeout ? std::optional(Clock::now() + *timeout) : std::nullopt;
}

int PollTimeout(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) {
    return -1;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

Wait WaitWritable(int fd, const std::optional<Clock::time_point>& deadline) {
  for (;;) {
    const int timeout = PollTimeout(deadline);
    if (timeout == 0) {
      return Wait::TimedOut;
    }
    pollfd watch{fd, POLLOUT, 0};
    const int ready = ::poll(&watch, 1, timeout);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0) {
      return Wait::Failed;
    }
    if (ready == 0) {
      return Wait::TimedOut;
    }
    // A hung-up line may also report POLLOUT; the write that follows then fails with EIO.
    return (watch.revents & POLLOUT) != 0 ? Wait::Writable : Wait::Failed;
  }
}

bool WriteWithin(int fd, const unsigned char* bytes, std::uint32_t count,
                 const std::optional<Clock::time_point>& deadline, std::uint32_t& written) {
  while (written < count) {
    const ssize_t accepted = ::write(fd, bytes + written, count - written);
    if (accepted > 0) {
      written += static_cast<std::uint32_t>(accepted);
      continue;
    }
    if (accepted < 0 && errno == EINTR) {
      continue;
    }
    if (accepted == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      return false;
    }
    switch (WaitWritable(fd, deadline)) {
    case Wait::Writable:
      continue;
    case Wait::TimedOut:
      return true; // what was taken so far is the result, as with a Win32 write time-out
    case Wait::Failed:
      return false;
    }
  }
  return true;
}

// How long a write with no time-out may wait for its bytes to leave: a line slower than
// 1000 bit/s, or one stopped by flow control, is not waited for without end.
std::chrono::milliseconds DrainLimitWithoutTimeout(std::uint32_t count) {
  return std::chrono::milliseconds(std::int64_t{10} * count + 1000);
}

} // namespace

std::optional<std::uint32_t> QueuedOutputBytes(int fd) {
  int unsent = 0;
  if (::ioctl(fd, TIOCOUTQ, &unsent) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(std::max(unsent, 0));
}

// ---- the driver -----------------------------------------------------------------------

PosixSerialDriver::PosixSerialDriver(PortLocations locations, UnsentBytesProbe unsentBytes)
    : locations_(std::move(locations)), unsentBytes_(std::move(unsentBytes)) {}

PosixSerialDriver::~PosixSerialDriver() {
  for (const auto& [handle, port] : ports_) {
    (void)CloseDescriptor(port.fd);
  }
}

int PosixSerialDriver::DescriptorOf(PortHandle handle) const {
  const auto found = ports_.find(handle);
  return found == ports_.end() ? -1 : found->second.fd;
}

PortHandle PosixSerialDriver::CreateFileA(std::string_view portName) {
  const auto path = DevicePathForPort(portName, locations_);
  if (!path) {
    lastOpenFailure_ = OpenFailure{OpenFailure::Kind::NoSuchPort, {}};
    return 0;
  }
  const int fd = OpenExclusively(path->c_str(), lastOpenFailure_);
  if (fd < 0) {
    return 0;
  }
  lastOpenFailure_ = OpenFailure{};
  ports_[HandleOf(fd)] = OpenPort{fd, {}, 0, 0};
  return HandleOf(fd);
}

bool PosixSerialDriver::CloseHandle(PortHandle handle) {
  const auto found = ports_.find(handle);
  if (found == ports_.end()) {
    return false;
  }
  const int fd = found->second.fd;
  ports_.erase(found);
  return CloseDescriptor(fd);
}

bool PosixSerialDriver::GetCommState(PortHandle handle, DCB& dcb) {
  const int fd = DescriptorOf(handle);
  if (fd < 0) {
    return false;
  }
  DCB current = dcb;
  if (!ReadBack(fd, current)) {
    return false;
  }
  ReadModemLines(fd, current);
  dcb = current;
  return true;
}

bool PosixSerialDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  const int fd = DescriptorOf(handle);
  termios current{};
  if (fd < 0 || ::tcgetattr(fd, &current) != 0) {
    return false;
  }
  const auto settings = BuildLineSettings(dcb, current);
  if (!settings || !Apply(fd, *settings)) {
    return false;
  }
  // The driver may take what it cannot do without complaint; what it holds now is what counts.
  DCB held = dcb;
  if (!ReadBack(fd, held) || !SameFraming(held, dcb)) {
    return false;
  }
  return ApplyModemLines(fd, dcb);
}

bool PosixSerialDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  const auto found = ports_.find(handle);
  if (found == ports_.end()) {
    return false;
  }
  found->second.timeouts = timeouts;
  return true;
}

bool PosixSerialDriver::SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
  const auto found = ports_.find(handle);
  if (found == ports_.end()) {
    return false;
  }
  found->second.inQueue = inQueue;
  found->second.outQueue = outQueue;
  return true;
}

bool PosixSerialDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  const int fd = DescriptorOf(handle);
  errors = 0; // line errors are not reported by a tty
  // After an unplug or hang-up the queue count means nothing: report failure, so callers see 0.
  int queued = 0;
  if (fd < 0 || HungUp(fd) || ::ioctl(fd, FIONREAD, &queued) != 0) {
    return false;
  }
  status = COMSTAT{};
  status.cbInQue = static_cast<std::uint32_t>(std::max(queued, 0));
  status.cbOutQue = QueuedOutputBytes(fd).value_or(0);
  return true;
}

bool PosixSerialDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  const int fd = DescriptorOf(handle);
  if (fd < 0) {
    return false;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (read < count) {
    const ssize_t got = ::read(fd, bytes + read, count - read);
    if (got > 0) {
      read += static_cast<std::uint32_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
      return true; // nothing more is queued; never wait for it
    }
    return read > 0; // keep what was read before the error
  }
  return true;
}

bool PosixSerialDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t& written) {
  written = 0;
  const auto found = ports_.find(handle);
  if (found == ports_.end()) {
    return false;
  }
  const int fd = found->second.fd;
  const COMMTIMEOUTS timeouts = found->second.timeouts;
  const auto deadline = WriteDeadline(timeouts, count);
  // write() returns once the kernel has the bytes, so the bytes of a frame leave together;
  // FlushFileBuffers waits for them where the device's pause begins.
  return WriteWithin(fd, static_cast<const unsigned char*>(buffer), count, deadline, written);
}

bool PosixSerialDriver::FlushFileBuffers(PortHandle handle) {
  const auto found = ports_.find(handle);
  if (found == ports_.end()) {
    return false;
  }
  const int fd = found->second.fd;
  const std::uint32_t unsent = unsentBytes_(fd).value_or(0);
  const auto deadline =
      WriteDeadline(found->second.timeouts, unsent).value_or(Clock::now() + DrainLimitWithoutTimeout(unsent));
  if (!WaitUntilSent(fd, deadline)) {
    return false;
  }
  // The kernel's queue is empty; a UART's FIFO and its shift register may still hold bytes.
  for (;;) {
    if (::tcdrain(fd) == 0) {
      return true;
    }
    if (errno != EINTR) {
      return errno == ENOTTY || errno == EINVAL; // no transmitter to wait for
    }
  }
}

bool PosixSerialDriver::WaitUntilSent(int fd, Clock::time_point deadline) const {
  constexpr auto kPollInterval = std::chrono::milliseconds(1);
  for (;;) {
    const std::optional<std::uint32_t> unsent = unsentBytes_(fd);
    if (!unsent || *unsent == 0) {
      return true; // all gone, or the tty cannot tell: nothing to wait for
    }
    if (Clock::now() >= StopBoundDeadline(deadline)) {
      return false;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, deadline - Clock::now()));
  }
}

} // namespace kv58
