#pragma once
// The serial driver on Linux and other POSIX systems: COM names map to tty devices through
// the port map (serial/port_map.h), the Win32 records to termios. Ports are opened
// exclusively, non-blocking; a write returns once the kernel has its bytes, bounded by the
// write time-outs, and FlushFileBuffers waits until they are on the wire; reads take only
// what is queued.

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "serial/port_map.h"
#include "serial/serial_driver.h"

namespace kv58 {

// How many written bytes the tty still holds, not yet on the wire (TIOCOUTQ); none when it
// cannot tell. Tests stand in for a slow line with their own.
using UnsentBytesProbe = std::function<std::optional<std::uint32_t>(int fd)>;
[[nodiscard]] std::optional<std::uint32_t> QueuedOutputBytes(int fd);

class PosixSerialDriver : public SerialDriver {
public:
  explicit PosixSerialDriver(PortLocations locations = DefaultPortLocations(),
                             UnsentBytesProbe unsentBytes = QueuedOutputBytes);
  ~PosixSerialDriver() override;
  PosixSerialDriver(const PosixSerialDriver&) = delete;
  PosixSerialDriver& operator=(const PosixSerialDriver&) = delete;

  [[nodiscard]] const PortLocations& Locations() const { return locations_; }

  PortHandle CreateFileA(std::string_view portName) override;
  OpenFailure LastOpenFailure() const override { return lastOpenFailure_; }
  bool CloseHandle(PortHandle handle) override;
  bool GetCommState(PortHandle handle, DCB& dcb) override;
  bool SetCommState(PortHandle handle, const DCB& dcb) override;
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override;
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override;
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  bool FlushFileBuffers(PortHandle handle) override;

private:
  struct OpenPort {
    int fd = -1;
    COMMTIMEOUTS timeouts;
    std::uint32_t inQueue = 0; // kept only: the kernel sizes its own buffers
    std::uint32_t outQueue = 0;
  };

  // The descriptor behind a handle this driver opened and has not closed; -1 otherwise.
  [[nodiscard]] int DescriptorOf(PortHandle handle) const;

  // Waits until the tty's queue is empty; false when the deadline passes first.
  [[nodiscard]] bool WaitUntilSent(int fd, std::chrono::steady_clock::time_point deadline) const;

  PortLocations locations_;
  UnsentBytesProbe unsentBytes_;
  OpenFailure lastOpenFailure_;
  std::map<PortHandle, OpenPort> ports_;
};

} // namespace kv58
