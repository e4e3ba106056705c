#include "serial/com_socket.h"

#include <algorithm>
#include <string>

#include "common/int_parse.h"
#include "serial/network_port.h"

namespace kv58 {

TCOMSocket::TCOMSocket(SerialDriver& driver) : driver_(driver) {}

TCOMSocket::~TCOMSocket() {
  if (IsOpen()) {
    (void)Close();
  }
}

bool TCOMSocket::SetPortName(std::string_view name) {
  constexpr std::string_view prefix = "COM";
  if (IsOpen()) {
    return false;
  }
  if (const auto network = ParseNetworkPort(name)) {
    PortNumber = 0;
    NetworkName = NetworkPortName(*network);
    return true;
  }
  if (!name.starts_with(prefix)) {
    return false;
  }
  NetworkName.clear();
  PortNumber = ToIntOrDefault(name.substr(prefix.size()), 0);
  return PortNumber != 0;
}

bool TCOMSocket::Open() {
  (void)Close();
  const std::string path = NetworkName.empty() ? "COM" + std::to_string(PortNumber) : NetworkName;
  Handle = driver_.CreateFileA(path);
  return IsOpen();
}

bool TCOMSocket::Close() {
  if (!IsOpen()) {
    return true;
  }
  if (!driver_.CloseHandle(Handle)) {
    return false;
  }
  Handle = 0;
  return true;
}

bool TCOMSocket::ReadSettings() { return IsOpen() && driver_.GetCommState(Handle, Dcb); }

bool TCOMSocket::WriteSettings() { return IsOpen() && driver_.SetCommState(Handle, Dcb); }

bool TCOMSocket::WriteTimeouts() { return IsOpen() && driver_.SetCommTimeouts(Handle, Timeouts); }

bool TCOMSocket::WriteQueueSizes() {
  return IsOpen() && driver_.SetupComm(Handle, InQueueSize, OutQueueSize);
}

bool TCOMSocket::ReadStatus() {
  std::uint32_t errors = 0; // reported by the driver, not needed by anyone
  return driver_.ClearCommError(Handle, errors, Status);
}

bool TCOMSocket::LineIsAlive() { return IsOpen() && ReadStatus(); }

std::uint32_t TCOMSocket::BytesWaiting() {
  if (!IsOpen() || !ReadStatus()) {
    return 0;
  }
  return Status.cbInQue;
}

std::uint32_t TCOMSocket::Read(void* buffer, std::uint32_t capacity) {
  if (!IsOpen() || buffer == nullptr || capacity == 0) {
    return 0;
  }
  std::uint32_t count = BytesWaiting();
  if (count == 0) {
    return 0;
  }
  if (count > capacity) {
    count = capacity;
  }
  std::uint32_t read = 0;
  if (!driver_.ReadFile(Handle, buffer, count, read)) {
    return 0;
  }
  return std::min(read, count);
}

std::uint32_t TCOMSocket::Write(const void* source, std::uint32_t count) {
  if (!IsOpen() || source == nullptr || count == 0) {
    return 0;
  }
  std::uint32_t written = 0;
  if (!driver_.WriteFile(Handle, source, count, written)) {
    return 0;
  }
  return written;
}

} // namespace kv58
