#include "tools/kv58_sim/end_signals.h"

#include "serial/system_message_win32.h"

// After our own headers, as everywhere <windows.h> comes in.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>

namespace kv58::sim {
namespace {

// The console events, as the numbers Take() gives: 0 stays "none".
constexpr int kCtrlC = 1 + CTRL_C_EVENT;
constexpr int kCtrlBreak = 1 + CTRL_BREAK_EVENT;
constexpr int kConsoleClosed = 1 + CTRL_CLOSE_EVENT;

// Windows ends the process once the handler of a closing console returns: the loop gets this
// long to print its last line first.
constexpr DWORD kCloseGraceMs = 2000;

// The socket the handler sends on; a console handler can reach nothing else.
std::atomic<SOCKET> gSender{INVALID_SOCKET};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const auto code = static_cast<char>(1 + std::min<DWORD>(event, CTRL_CLOSE_EVENT));
  // A full queue already holds a wake-up for the loop, so a failed send loses nothing.
  (void)::send(gSender.load(), &code, 1, 0);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    ::Sleep(kCloseGraceMs);
  }
  return TRUE;
}

SOCKET AsSocket(SocketHandle handle) { return static_cast<SOCKET>(handle); }

std::string Failed(const std::string& what) {
  return "cannot watch for Ctrl+C: " + what + ": " +
         SystemMessage(static_cast<std::uint32_t>(::WSAGetLastError()));
}

} // namespace

EndSignals::~EndSignals() {
  if (wake_ == kNoSocket) {
    return;
  }
  (void)::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  gSender = INVALID_SOCKET;
  ::closesocket(AsSocket(wake_));
  ::closesocket(AsSocket(sender_));
}

// Two datagram sockets on 127.0.0.1, the sender connected to the one the loop waits on.
bool EndSignals::Install(std::string& error) {
  WSADATA data{};
  if (const int started = ::WSAStartup(MAKEWORD(2, 2), &data); started != 0) {
    error = "Winsock does not start: " + SystemMessage(static_cast<std::uint32_t>(started));
    return false;
  }
  Socket wake(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  Socket sender(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long on = 1;
  if (!wake.IsOpen() || !sender.IsOpen() ||
      ::bind(AsSocket(wake.Handle()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(AsSocket(wake.Handle()), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(AsSocket(sender.Handle()), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::ioctlsocket(AsSocket(wake.Handle()), static_cast<long>(FIONBIO), &on) != 0) {
    error = Failed("no loopback socket");
    return false;
  }
  gSender = AsSocket(sender.Handle());
  if (::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) == 0) {
    gSender = INVALID_SOCKET;
    error = "cannot watch for Ctrl+C: " + SystemMessage(::GetLastError());
    return false;
  }
  wake_ = wake.Release();
  sender_ = sender.Release();
  return true;
}

int EndSignals::Take() const {
  char code = 0;
  return ::recv(AsSocket(wake_), &code, 1, 0) == 1 ? code : 0;
}

std::string SignalName(int signal) {
  switch (signal) {
  case kCtrlC:
    return "Ctrl+C";
  case kCtrlBreak:
    return "Ctrl+Break";
  case kConsoleClosed:
    return "console closed";
  default:
    return "signal " + std::to_string(signal);
  }
}

} // namespace kv58::sim
