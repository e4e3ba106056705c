#pragma once
// The window's serial driver: every call of the system's driver runs on a thread of its own
// while the window keeps painting and answering the system, and takes no user input (held
// back, as during an upload). A device server may take seconds to connect, negotiate,
// acknowledge or close, and Windows marks a window that answers nothing for 5 s as "Not
// Responding". A status or read asked by a timer meanwhile gets "nothing waiting" rather than
// a second call into a driver that is busy.

#include <memory>

#include "serial/serial_driver.h"

namespace kv58 {

class ResponsiveDriver final : public SerialDriver {
public:
  explicit ResponsiveDriver(SerialDriver& inner) : inner_(inner) {}

  PortHandle CreateFileA(std::string_view portName) override;
  OpenFailure LastOpenFailure() const override { return inner_.LastOpenFailure(); }
  bool CloseHandle(PortHandle handle) override;
  bool GetCommState(PortHandle handle, DCB& dcb) override;
  bool SetCommState(PortHandle handle, const DCB& dcb) override;
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override;
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override;
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  bool FlushFileBuffers(PortHandle handle) override;
  std::string LineSettingsNote(PortHandle handle) const override { return inner_.LineSettingsNote(handle); }

private:
  // Runs `call` on a thread of its own, taking the window's events other than input meanwhile.
  template <typename Call> auto KeepingWindowAlive(Call call);

  SerialDriver& inner_;
  bool busy_ = false; // a call is on its way: one asked meanwhile must not reach the driver
};

} // namespace kv58
