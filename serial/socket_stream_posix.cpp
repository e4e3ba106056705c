#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/sockios.h>
#endif

// After the socket headers:
#include "serial/address_look_up.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "common/stop_request.h"
#include "serial/display_endpoint.h"
#include "serial/socket_stream.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;

int MillisUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

enum class Wait { Ready, Failed, TimedOut, Stopped };
// How a request of the user's to stop ends a wait: at once (an open, before any byte of the
// display's is sent), or once the grace it leaves for what is being sent has run out.
enum class OnStop { EndAtOnce, AllowGrace };

// Waits until `fd` can be read (or written, when `forWriting`) or has failed, by the deadline
// or the user's request to stop, whichever comes first. `onStop` says how a request to stop
// ends the wait: at once, or when the grace it leaves to end what is being sent has run out.
Wait WaitFor(int fd, bool forWriting, SteadyClock::time_point deadline, OnStop onStop = OnStop::AllowGrace) {
  for (;;) {
    if (onStop == OnStop::EndAtOnce && StopRequested()) {
      return Wait::Stopped;
    }
    const auto slice = NextWaitSlice(deadline);
    pollfd watch{fd, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&watch, 1, MillisUntil(slice));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready == 0 && SteadyClock::now() < StopBoundDeadline(deadline)) {
      continue;
    }
    if (ready == 0) {
      return SteadyClock::now() < deadline ? Wait::Stopped : Wait::TimedOut;
    }
    // A peer that closed is readable: recv tells it. POLLERR alone is a failure.
    const bool failed = ready < 0 || (watch.revents & (POLLIN | POLLOUT)) == 0;
    return failed ? Wait::Failed : Wait::Ready;
  }
}

class PosixSocketStream final : public ByteStream {
public:
  explicit PosixSocketStream(int fd) : fd_(fd) {}
  ~PosixSocketStream() override { ::close(fd_); }
  PosixSocketStream(const PosixSocketStream&) = delete;
  PosixSocketStream& operator=(const PosixSocketStream&) = delete;

  bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
      } else if (sent < 0 && errno == EINTR) {
        continue;
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (WaitFor(fd_, true, deadline) != Wait::Ready) {
          return false;
        }
      } else {
        return false;
      }
    }
    return true;
  }

  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    switch (WaitFor(fd_, false, deadline)) {
    case Wait::TimedOut:
    case Wait::Stopped:
      return true; // nothing came: still open as far as anyone can tell
    case Wait::Failed:
      return false;
    case Wait::Ready:
      break;
    }
    std::array<char, kMaxChunkBytes> buffer{};
#if defined(__linux__)
    // The kernel drops quick-ack mode on its own; without it, a server that writes with Nagle
    // on (ser2net) waits for our delayed ACK before its next small answer.
    const int on = 1;
    (void)::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (got > 0) {
        into.append(buffer.data(), static_cast<std::size_t>(got));
        return true;
      }
      if (got < 0 && errno == EINTR) {
        continue;
      }
      return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK); // 0: the peer closed
    }
  }

  bool WaitAcknowledged(SteadyClock::time_point deadline) override {
#if defined(__linux__)
    for (;;) {
      int unacknowledged = 0;
      if (::ioctl(fd_, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0) {
        return true;
      }
      if (SteadyClock::now() >= StopBoundDeadline(deadline)) {
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
#else
    (void)deadline;
    return true;
#endif
  }

private:
  int fd_;
};

OpenFailure::Kind KindOfConnectError(int error) {
  switch (error) {
  case ECONNREFUSED:
    return OpenFailure::Kind::Refused;
  case ETIMEDOUT:
  case EHOSTUNREACH:
  case ENETUNREACH:
    return OpenFailure::Kind::NoAnswer;
  case EMFILE:
  case ENFILE:
    return OpenFailure::Kind::TooManyOpenFiles;
  default:
    return OpenFailure::Kind::Other;
  }
}

OpenFailure::Kind KindOfLookUpError(int error) {
  switch (error) {
  case EAI_NONAME:
  case EAI_FAIL:
#if defined(EAI_NODATA)
  case EAI_NODATA:
#endif
    return OpenFailure::Kind::NameNotFound;
  case EAI_AGAIN: // the resolver gave no answer in its own time: no verdict on the name
    return OpenFailure::Kind::LookUpTimedOut;
  case EAI_SYSTEM:
    return KindOfConnectError(errno);
  default:
    return OpenFailure::Kind::Other;
  }
}

int ConnectedWithin(const addrinfo& address, SteadyClock::time_point deadline, int& error) {
  const int fd =
      ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
    error = errno;
    ::close(fd);
    return -1;
  }
  int result = ETIMEDOUT;
  socklen_t length = sizeof result;
  switch (WaitFor(fd, true, deadline, OnStop::EndAtOnce)) {
  case Wait::TimedOut:
    break;
  case Wait::Stopped:
    result = EINTR; // the user's request, not the network
    break;
  case Wait::Ready:
  case Wait::Failed:
    (void)::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length);
    break;
  }
  if (result != 0) {
    error = result;
    ::close(fd);
    return -1;
  }
  const int on = 1;
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#if defined(__linux__)
  const auto userTimeout = static_cast<unsigned>(kDeadLinkTimeout.count());
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
  // The user time-out also ends a connection whose keepalive probes go unanswered.
  const int idle = static_cast<int>(kKeepAliveIdle.count());
  const int interval = std::max(1, static_cast<int>(kKeepAliveInterval.count() / 1000));
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
#endif
  (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  return fd;
}

// The look-up on `lookUps`, then the connection to the first address that answers.
std::unique_ptr<ByteStream> ConnectedVia(BoundedCallPool& lookUps, const NetworkPort& port,
                                         std::chrono::milliseconds timeout, OpenFailure& failure) {
  const auto deadline = SteadyClock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  const std::string service = std::to_string(port.port);
  const auto lookUp = LookUpAddresses(port.host, service, hints, deadline, lookUps);
  if (lookUp.end != BoundedCallPool::End::Done) {
    failure = LookUpFailure(port, lookUp.end, timeout);
    return nullptr;
  }
  if (lookUp.value->error != 0) {
    failure = OpenFailure{KindOfLookUpError(lookUp.value->error),
                          lookUp.value->error == EAI_SYSTEM ? std::strerror(lookUp.value->systemError)
                                                            : ::gai_strerror(lookUp.value->error)};
    return nullptr;
  }
  addrinfo* found = lookUp.value->found;
  int lastError = ECONNREFUSED;
  int fd = -1;
  for (const addrinfo* address = found; address != nullptr && fd < 0 && lastError != EINTR;
       address = address->ai_next) {
    fd = ConnectedWithin(*address, deadline, lastError);
  }
  ::freeaddrinfo(found);
  if (fd < 0 && lastError == EINTR) {
    failure =
        OpenFailure{OpenFailure::Kind::Interrupted, "interrupted while connecting to " + HostAndPort(port)};
    return nullptr;
  }
  if (fd < 0) {
    failure = OpenFailure{KindOfConnectError(lastError), lastError == ETIMEDOUT
                                                             ? "no answer within " + SecondsText(timeout)
                                                             : std::strerror(lastError)};
    return nullptr;
  }
  return std::make_unique<PosixSocketStream>(fd);
}

} // namespace

StreamConnector SocketConnector(BoundedCallPool& lookUps) {
  return [&lookUps](const NetworkPort& port, std::chrono::milliseconds timeout, OpenFailure& failure) {
    return ConnectedVia(lookUps, port, timeout, failure);
  };
}

std::optional<std::vector<std::string>> ResolvedEndpoints(const NetworkPort& port,
                                                          SteadyClock::time_point deadline) {
  return LookedUpEndpoints(port, deadline);
}

} // namespace kv58
