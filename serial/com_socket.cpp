#include "serial/com_socket.h"

#include <algorithm>
#include <string>

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
  if (const auto parsed = ParsePortName(name, PortNameRule::PortBox)) {
    return SetPortName(*parsed);
  }
  if (name.starts_with(prefix)) {
    PortNumber = 0; // "COM" and no number the port box takes, such as COMX or COM0
    Name.reset();
  }
  return false;
}

bool TCOMSocket::SetPortName(const PortName& name) {
  if (IsOpen()) {
    return false;
  }
  PortNumber = name.ComNumber();
  Name = name;
  return true;
}

bool TCOMSocket::Open() {
  (void)Close();
  const std::string path = Name ? Name->FullName() : "COM" + std::to_string(PortNumber);
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
  std::uint32_t errors = 0;
  const bool read = driver_.ClearCommError(Handle, errors, Status);
  InputOverflowed = InputOverflowed || (read && (errors & CE_RXOVER) != 0);
  return read;
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

bool TCOMSocket::Drain() { return IsOpen() && driver_.FlushFileBuffers(Handle); }

} // namespace kv58
