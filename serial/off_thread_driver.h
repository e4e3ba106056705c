#pragma once
// A driver in front of another whose every call runs on a thread of its own, while the
// calling thread does what `whileWaiting` does, again and again until the call has ended. The
// window passes the taking of its events other than input: a device server may take seconds
// to connect, negotiate, acknowledge or close, and Windows marks a window that answers nothing
// for 5 s as "Not Responding". A status or a read asked for from inside `whileWaiting` (the
// receive timer) gets "nothing waiting"; any other call then fails: the driver serves one call
// at a time.

#include <functional>
#include <string>

#include "serial/serial_driver.h"

namespace kv58 {

class OffThreadDriver final : public SerialDriver {
public:
  // `whileWaiting` is called every 10 ms or so while a call runs.
  OffThreadDriver(SerialDriver& inner, std::function<void()> whileWaiting)
      : inner_(inner), whileWaiting_(std::move(whileWaiting)) {}

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
  template <typename Call> auto OffThread(Call call);

  SerialDriver& inner_;
  std::function<void()> whileWaiting_;
  bool busy_ = false; // a call is on its way
};

} // namespace kv58
