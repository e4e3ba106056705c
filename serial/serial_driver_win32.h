#pragma once
// The serial driver on Windows: each call is the Win32 function of the same name on one
// handle opened without overlapped I/O. Our records are copied member by member to and
// from the real DCB, COMMTIMEOUTS and COMSTAT, so members the owner leaves alone keep
// what the driver reported.

#include <string>
#include <string_view>

#include "serial/serial_driver.h"

namespace kv58 {

class Win32SerialDriver : public SerialDriver {
public:
  Win32SerialDriver() = default;

  PortHandle CreateFileA(std::string_view portName) override;
  OpenFailure LastOpenFailure() const override { return lastOpenFailure_; }
  bool CloseHandle(PortHandle handle) override;
  bool GetCommState(PortHandle handle, DCB& dcb) override;
  // Refuses, without a call, a DCB whose flag members do not fit the driver's bit-fields.
  bool SetCommState(PortHandle handle, const DCB& dcb) override;
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override;
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override;
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  bool FlushFileBuffers(PortHandle handle) override;

private:
  OpenFailure lastOpenFailure_;
};

// The path CreateFileA is given for a port name: the name in the device namespace,
// "\\.\COM12" for "COM12". A plain "COM10" and above names no device for CreateFileA.
[[nodiscard]] std::string DevicePathForPort(std::string_view portName);

} // namespace kv58
