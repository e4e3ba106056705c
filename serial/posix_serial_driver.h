#pragma once
// The serial driver on Linux and other POSIX systems: COM names map to tty devices through
// the port map (serial/port_map.h), the Win32 records to termios. Ports are opened
// exclusively, non-blocking; writes wait for room under the write time-outs, reads take only
// what is queued.

#include <map>
#include <mutex>

#include "serial/port_map.h"
#include "serial/serial_driver.h"

namespace kv58 {

class PosixSerialDriver : public SerialDriver {
public:
  explicit PosixSerialDriver(PortLocations locations = DefaultPortLocations());
  ~PosixSerialDriver() override;
  PosixSerialDriver(const PosixSerialDriver&) = delete;
  PosixSerialDriver& operator=(const PosixSerialDriver&) = delete;

  [[nodiscard]] const PortLocations& Locations() const { return locations_; }

  PortHandle CreateFileA(std::string_view portName) override;
  bool CloseHandle(PortHandle handle) override;
  bool GetCommState(PortHandle handle, DCB& dcb) override;
  bool SetCommState(PortHandle handle, const DCB& dcb) override;
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override;
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override;
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;

private:
  struct OpenPort {
    int fd = -1;
    COMMTIMEOUTS timeouts;
    std::uint32_t inQueue = 0; // kept only: the kernel sizes its own buffers
    std::uint32_t outQueue = 0;
  };

  // The descriptor behind a handle this driver opened and has not closed; -1 otherwise.
  [[nodiscard]] int DescriptorOf(PortHandle handle) const;

  PortLocations locations_;
  mutable std::mutex mutex_; // guards ports_ only; no system call is made while it is held
  std::map<PortHandle, OpenPort> ports_;
};

} // namespace kv58
