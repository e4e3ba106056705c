#include "serial/socket_stream.h"

#include "common/stop_request.h"
#include "serial/display_endpoint.h"
#include "serial/system_message_win32.h"

// After our own headers, as everywhere <windows.h> comes in.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
// After <winsock2.h>, whose types they use:
#include <mstcpip.h>

#include "serial/address_look_up.h"

#include <algorithm>
#include <array>
#include <climits>

namespace kv58 {
namespace {

// Winsock's TCP_MAXRT (ws2ipdef.h of the Windows SDK; mingw-w64 does not name it): how many
// seconds unacknowledged data may wait before the connection ends with an error.
constexpr int kTcpMaxRetransmitOption = 5;

// Winsock is started once for the process and left running to its end: connections are
// opened from several threads when kv58 updates a fleet.
bool WinsockStarted(OpenFailure& failure) {
  static const int started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) {
    failure = OpenFailure{OpenFailure::Kind::Other,
                          "Winsock does not start: " + SystemMessage(static_cast<std::uint32_t>(started))};
  }
  return started == 0;
}

timeval TimeLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - SteadyClock::now()).count();
  const auto micros = std::clamp<std::int64_t>(left, 0, std::int64_t{INT_MAX} * 1000);
  return timeval{static_cast<long>(micros / 1'000'000), static_cast<long>(micros % 1'000'000)};
}

enum class Wait { Ready, Failed, TimedOut, Stopped };
// How a request of the user's to stop ends a wait: at once (an open, before any byte of the
// display's is sent), or once the grace it leaves for what is being sent has run out.
enum class OnStop { EndAtOnce, AllowGrace };

// Waits until `socket` can be read (or written, when `forWriting`) or has failed, by the
// deadline or the user's request to stop, as `onStop` says. A connection that failed to come
// up is reported in the exception set.
Wait WaitFor(SOCKET socket, bool forWriting, SteadyClock::time_point deadline,
             OnStop onStop = OnStop::AllowGrace) {
  for (;;) {
    if (onStop == OnStop::EndAtOnce && StopRequested()) {
      return Wait::Stopped;
    }
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval timeout = TimeLeft(NextWaitSlice(deadline));
    const int count =
        ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &timeout);
    if (count == 0 && SteadyClock::now() < StopBoundDeadline(deadline)) {
      continue;
    }
    if (count == 0) {
      return SteadyClock::now() < deadline ? Wait::Stopped : Wait::TimedOut;
    }
    return count < 0 || FD_ISSET(socket, &failed) ? Wait::Failed : Wait::Ready;
  }
}

class WinsockStream final : public ByteStream {
public:
  explicit WinsockStream(SOCKET socket) : socket_(socket) {}
  ~WinsockStream() override { ::closesocket(socket_); }
  WinsockStream(const WinsockStream&) = delete;
  WinsockStream& operator=(const WinsockStream&) = delete;

  bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (!bytes.empty()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
      const int sent = ::send(socket_, bytes.data(), chunk, 0);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
      } else if (sent == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        if (WaitFor(socket_, true, deadline) != Wait::Ready) {
          return false;
        }
      } else {
        return false;
      }
    }
    return true;
  }

  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    switch (WaitFor(socket_, false, deadline)) {
    case Wait::TimedOut:
    case Wait::Stopped:
      return true; // nothing came: still open as far as anyone can tell
    case Wait::Failed:
      return false;
    case Wait::Ready:
      break;
    }
    std::array<char, kMaxChunkBytes> buffer{};
    const int got = ::recv(socket_, buffer.data(), static_cast<int>(buffer.size()), 0);
    if (got > 0) {
      into.append(buffer.data(), static_cast<std::size_t>(got));
      return true;
    }
    return got == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK; // 0: the peer closed
  }

  // Winsock tells no count of unacknowledged bytes that would hold here; an RFC 2217 line
  // learns it from the server's answer instead.
  bool WaitAcknowledged(SteadyClock::time_point /*deadline*/) override { return true; }

private:
  SOCKET socket_;
};

OpenFailure::Kind KindOfConnectError(int error) {
  switch (error) {
  case WSAECONNREFUSED:
    return OpenFailure::Kind::Refused;
  case WSAETIMEDOUT:
  case WSAEHOSTUNREACH:
  case WSAENETUNREACH:
    return OpenFailure::Kind::NoAnswer;
  case WSAEMFILE:
  case WSAENOBUFS:
    return OpenFailure::Kind::TooManyOpenFiles;
  default:
    return OpenFailure::Kind::Other;
  }
}

OpenFailure::Kind KindOfLookUpError(int error) {
  switch (error) {
  case WSAHOST_NOT_FOUND:
  case WSANO_RECOVERY:
  case WSANO_DATA:
    return OpenFailure::Kind::NameNotFound;
  case WSATRY_AGAIN: // the resolver gave no answer in its own time: no verdict on the name
    return OpenFailure::Kind::LookUpTimedOut;
  default:
    return KindOfConnectError(error);
  }
}

SOCKET ConnectedWithin(const addrinfo& address, SteadyClock::time_point deadline, int& error) {
  const SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (socket == INVALID_SOCKET) {
    error = ::WSAGetLastError();
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  (void)::ioctlsocket(socket, static_cast<long>(FIONBIO), &nonBlocking);
  if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0 ||
      ::WSAGetLastError() == WSAEWOULDBLOCK) {
    switch (WaitFor(socket, true, deadline, OnStop::EndAtOnce)) {
    case Wait::Ready:
      error = 0;
      break;
    case Wait::TimedOut:
      error = WSAETIMEDOUT;
      break;
    case Wait::Stopped:
      error = WSAEINTR; // the user's request, not the network
      break;
    case Wait::Failed: {
      int result = WSAECONNREFUSED;
      int length = sizeof result;
      (void)::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length);
      error = result != 0 ? result : WSAECONNREFUSED;
      break;
    }
    }
  } else {
    error = ::WSAGetLastError();
  }
  if (error != 0) {
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
  const BOOL on = TRUE;
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  const auto maxRetransmit =
      static_cast<DWORD>(std::chrono::duration_cast<std::chrono::seconds>(kDeadLinkTimeout).count());
  (void)::setsockopt(socket, IPPROTO_TCP, kTcpMaxRetransmitOption,
                     reinterpret_cast<const char*>(&maxRetransmit), sizeof maxRetransmit);
  // Probes of a silent connection, so that one gone dead is noticed while nothing is sent.
  tcp_keepalive keepAlive{1, static_cast<ULONG>(std::chrono::milliseconds(kKeepAliveIdle).count()),
                          static_cast<ULONG>(kKeepAliveInterval.count())};
  DWORD returned = 0;
  (void)::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned, nullptr,
                   nullptr);
  // Every segment acknowledged at once: a server that writes with Nagle on (ser2net) otherwise
  // waits out Windows' delayed ACK, 200 ms by default, before each next small answer.
  DWORD ackEverySegment = 1;
  (void)::WSAIoctl(socket, SIO_TCP_SET_ACK_FREQUENCY, &ackEverySegment, sizeof ackEverySegment, nullptr, 0,
                   &returned, nullptr, nullptr);
  return socket;
}

// The look-up on `lookUps`, then the connection to the first address that answers.
std::unique_ptr<ByteStream> ConnectedVia(BoundedCallPool& lookUps, const NetworkPort& port,
                                         std::chrono::milliseconds timeout, OpenFailure& failure) {
  if (!WinsockStarted(failure)) {
    return nullptr;
  }
  const auto deadline = SteadyClock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  const std::string service = std::to_string(port.port);
  const auto lookUp = LookUpAddresses(port.host, service, hints, deadline, lookUps);
  if (lookUp.end != BoundedCallPool::End::Done) {
    failure = LookUpFailure(port, lookUp.end, timeout);
    return nullptr;
  }
  if (lookUp.value->error != 0) {
    failure = OpenFailure{KindOfLookUpError(lookUp.value->error),
                          SystemMessage(static_cast<std::uint32_t>(lookUp.value->error))};
    return nullptr;
  }
  addrinfo* found = lookUp.value->found;
  int lastError = WSAECONNREFUSED;
  SOCKET socket = INVALID_SOCKET;
  for (const addrinfo* address = found;
       address != nullptr && socket == INVALID_SOCKET && lastError != WSAEINTR; address = address->ai_next) {
    socket = ConnectedWithin(*address, deadline, lastError);
  }
  ::freeaddrinfo(found);
  if (socket == INVALID_SOCKET && lastError == WSAEINTR) {
    failure =
        OpenFailure{OpenFailure::Kind::Interrupted, "interrupted while connecting to " + HostAndPort(port)};
    return nullptr;
  }
  if (socket == INVALID_SOCKET) {
    failure = OpenFailure{KindOfConnectError(lastError),
                          lastError == WSAETIMEDOUT ? "no answer within " + SecondsText(timeout)
                                                    : SystemMessage(static_cast<std::uint32_t>(lastError))};
    return nullptr;
  }
  return std::make_unique<WinsockStream>(socket);
}

} // namespace

StreamConnector SocketConnector(BoundedCallPool& lookUps) {
  return [&lookUps](const NetworkPort& port, std::chrono::milliseconds timeout, OpenFailure& failure) {
    return ConnectedVia(lookUps, port, timeout, failure);
  };
}

std::optional<std::vector<std::string>> ResolvedEndpoints(const NetworkPort& port,
                                                          SteadyClock::time_point deadline) {
  OpenFailure failure;
  if (!WinsockStarted(failure)) {
    return std::nullopt;
  }
  return LookedUpEndpoints(port, deadline);
}

} // namespace kv58
