#pragma once
// What the serial port channel asks of the operating system, one call per Win32 serial
// function. Implementations: Win32 (Windows), POSIX (Linux and other Unixes), and a fake
// that records calls for tests. Every call reports success by its result, never by throwing.
// The names are those of the Win32 calls (CreateFileA, not the CreateFile macro).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "serial/comm_records.h"
#include "serial/open_failure.h"

namespace kv58 {

// An open port. 0 is never a valid handle: it means "closed" to the channel.
using PortHandle = std::uintptr_t;

class SerialDriver {
public:
  virtual ~SerialDriver() = default;

  // Opens the port named "COM" followed by a number (the channel builds the name),
  // exclusively, for reading and writing, without overlapped I/O. 0 on failure.
  [[nodiscard]] virtual PortHandle CreateFileA(std::string_view portName) = 0;
  // Why the last CreateFileA failed; Kind::None after one that succeeded.
  [[nodiscard]] virtual OpenFailure LastOpenFailure() const = 0;
  [[nodiscard]] virtual bool CloseHandle(PortHandle handle) = 0;
  [[nodiscard]] virtual bool GetCommState(PortHandle handle, DCB& dcb) = 0;
  [[nodiscard]] virtual bool SetCommState(PortHandle handle, const DCB& dcb) = 0;
  [[nodiscard]] virtual bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) = 0;
  [[nodiscard]] virtual bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  [[nodiscard]] virtual bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) = 0;
  [[nodiscard]] virtual bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count,
                                      std::uint32_t& read) = 0;
  [[nodiscard]] virtual bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                       std::uint32_t& written) = 0;
  // Waits until what was written has left toward the display: the system's queue and the
  // UART's transmitter, or a device server's acknowledgement. Bounded by the write time-outs
  // (a line stopped by flow control gives up, false), never by the caller.
  [[nodiscard]] virtual bool FlushFileBuffers(PortHandle handle) = 0;
  // What the last SetCommState of this port could not do as asked, in words (a device server
  // that holds another rate, a raw TCP port that carries no settings); empty when all went as
  // asked, as it always does on a local port.
  [[nodiscard]] virtual std::string LineSettingsNote(PortHandle /*handle*/) const { return {}; }
  // Why this port's last SetCommState, WriteFile or FlushFileBuffers failed, where the driver
  // can tell: NoAnswer (its bound ran out), Interrupted (the user's request to stop cut it
  // short), Lost (the line is gone). Kind::None after one that succeeded, and from a driver
  // that cannot tell (a local port's).
  [[nodiscard]] virtual OpenFailure LastStepFailure(PortHandle /*handle*/) const { return {}; }

protected:
  SerialDriver() = default;
  SerialDriver(const SerialDriver&) = default;
  SerialDriver& operator=(const SerialDriver&) = default;
};

// The driver of the platform the program runs on, with its default device locations: local
// ports and ports behind a device server.
[[nodiscard]] SerialDriver& SystemSerialDriver();
// A driver of the same kind of one's own, for a thread that serves one port while others serve
// theirs (a driver is used by one thread at a time).
[[nodiscard]] std::unique_ptr<SerialDriver> NewSystemSerialDriver();

} // namespace kv58
