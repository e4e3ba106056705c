#pragma once
// The serial driver for displays behind a device server: each handle is a NetworkLine. The
// Win32-shaped calls map onto it: the DCB's rate goes out as SET-BAUDRATE (RFC 2217), the
// write time-outs bound each write, the status is what has arrived.

#include <map>
#include <memory>
#include <string>

#include "serial/network_line.h"
#include "serial/serial_driver.h"

namespace kv58 {

class NetworkSerialDriver : public SerialDriver {
public:
  explicit NetworkSerialDriver(StreamConnector connect) : connect_(std::move(connect)) {}

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

  std::string LineSettingsNote(PortHandle handle) const override;
  OpenFailure LastStepFailure(PortHandle handle) const override;

private:
  struct OpenLine {
    std::unique_ptr<NetworkLine> line;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    std::string lineSettingsNote;
    std::uint32_t undrainedBytes = 0; // written since the last drain
  };
  [[nodiscard]] OpenLine* Find(PortHandle handle);

  StreamConnector connect_;
  std::map<PortHandle, OpenLine> lines_;
  PortHandle nextHandle_ = 1;
  OpenFailure lastOpenFailure_;
};

} // namespace kv58
