#pragma once
// The program's one driver in front of the others: each port name goes to the driver of its
// kind, a COM port to the platform's, a network port to the device servers'.

#include <map>
#include <memory>
#include <string>

#include "serial/serial_driver.h"

namespace kv58 {

// Routes each port name to its driver: network names to `network`, every other name to
// `local`. Handles are the router's own, so the two drivers' handles never meet.
class RoutingSerialDriver : public SerialDriver {
public:
  RoutingSerialDriver(std::unique_ptr<SerialDriver> local, std::unique_ptr<SerialDriver> network)
      : local_(std::move(local)), network_(std::move(network)) {}

  PortHandle CreateFileA(std::string_view portName) override;
  OpenFailure LastOpenFailure() const override { return lastDriver_->LastOpenFailure(); }
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
  struct Route {
    SerialDriver* driver = nullptr;
    PortHandle inner = 0;
  };
  [[nodiscard]] const Route* Find(PortHandle handle) const;

  std::unique_ptr<SerialDriver> local_;
  std::unique_ptr<SerialDriver> network_;
  SerialDriver* lastDriver_ = local_.get();
  std::map<PortHandle, Route> routes_;
  PortHandle nextHandle_ = 1;
};

} // namespace kv58
