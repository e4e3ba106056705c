#pragma once
// What the Windows tests need around the code under test: the ports they may use, named by
// environment variables (scripts/test-windows maps pseudo-terminals under Wine and sets
// them), Wine detection, and the far end of the line driven through plain Win32 calls, so
// that what the driver under test does is checked by code that does not share it.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/line_settings.h"
#include "serial/com_socket.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kv58::testing {

// The program's end of a line whose far end is the peer port.
inline constexpr const char* kPortVariable = "KV58_TEST_PORT";
inline constexpr const char* kPeerPortVariable = "KV58_TEST_PEER_PORT";
// A line whose far end is the device simulator, and the bytes it answers every frame with.
inline constexpr const char* kSimPortVariable = "KV58_TEST_SIM_PORT";
inline constexpr const char* kSimReplyVariable = "KV58_TEST_SIM_REPLY";
// Two rfc2217:// ports, a space between them: simulators behind a device server on the host.
inline constexpr const char* kNetworkPortsVariable = "KV58_TEST_NETWORK_PORTS";

// The port the settings of these tests speak of; also what the window writes on connect.
inline constexpr std::uint32_t kTestBaudRate = 115200;

inline std::optional<std::string> EnvironmentText(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') {
    return std::nullopt;
  }
  return std::string(value);
}

// Wine gives ntdll an export that Windows does not have.
inline bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline HANDLE HandleOf(const TCOMSocket& port) { return reinterpret_cast<HANDLE>(port.GetHandle()); }

// The connect sequence of the window: open, learn the driver's settings, write the device's
// line settings over them, queue sizes and time-outs, and read the settings back. Each step
// only after the one before it succeeded; the first failing step is named.
inline std::string ConnectAsTheWindowDoes(TCOMSocket& port, std::string_view name, std::uint32_t baudRate) {
  if (!port.SetPortName(name)) {
    return "SetPortName";
  }
  if (!port.Open()) {
    return "Open";
  }
  if (!port.ReadSettings()) {
    return "ReadSettings";
  }
  SetDeviceLineSettings(port, static_cast<std::int32_t>(baudRate));
  if (!port.WriteSettings()) {
    return "WriteSettings";
  }
  if (!port.WriteQueueSizes()) {
    return "WriteQueueSizes";
  }
  if (!port.WriteTimeouts()) {
    return "WriteTimeouts";
  }
  if (!port.ReadSettings()) {
    return "ReadSettings after writing";
  }
  return {};
}

// Waits until the port has at least `count` bytes queued or the line stays quiet for about
// five seconds, and gives the count queued then. The wait only bounds a test that would
// otherwise hang; nothing is concluded from how long it took.
inline std::uint32_t WaitForQueued(TCOMSocket& port, std::uint32_t count) {
  constexpr int kPolls = 500;
  constexpr DWORD kPollMs = 10;
  std::uint32_t queued = port.BytesWaiting();
  for (int poll = 0; poll < kPolls && queued < count; ++poll) {
    ::Sleep(kPollMs);
    queued = port.BytesWaiting();
  }
  return queued;
}

// The far end of the line, opened and driven with plain Win32 calls.
class PeerPort {
public:
  explicit PeerPort(const std::string& name) {
    const std::string path = "\\\\.\\" + name;
    handle_ =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      return;
    }
    ::DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    ::COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = kQuietMs; // a read gives up after this long without all bytes
    timeouts.WriteTotalTimeoutConstant = kQuietMs;
    if (::GetCommState(handle_, &dcb) == FALSE) {
      return;
    }
    ConfigureRaw(dcb);
    ready_ = ::SetCommState(handle_, &dcb) != FALSE && ::SetCommTimeouts(handle_, &timeouts) != FALSE &&
             ::PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR) != FALSE;
  }
  ~PeerPort() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle_);
    }
  }
  PeerPort(const PeerPort&) = delete;
  PeerPort& operator=(const PeerPort&) = delete;

  [[nodiscard]] bool IsReady() const { return ready_; }

  [[nodiscard]] bool Send(std::string_view bytes) {
    DWORD written = 0;
    return ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE &&
           written == bytes.size();
  }

  // Up to `count` bytes: fewer only when the line stays quiet for the read time-out.
  [[nodiscard]] std::string Receive(std::size_t count) {
    std::string received;
    while (received.size() < count) {
      std::string chunk(count - received.size(), '\0');
      DWORD read = 0;
      if (::ReadFile(handle_, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) == FALSE ||
          read == 0) {
        break;
      }
      received.append(chunk, 0, read);
    }
    return received;
  }

private:
  static constexpr DWORD kQuietMs = 5000;

  static void ConfigureRaw(::DCB& dcb) {
    dcb.BaudRate = kTestBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = 0;   // no parity
    dcb.StopBits = 0; // one stop bit
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = 0;
    dcb.fAbortOnError = 0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool ready_ = false;
};

} // namespace kv58::testing
