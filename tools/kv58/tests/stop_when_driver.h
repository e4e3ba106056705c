#pragma once
// A system driver through which a test plays the user who presses Ctrl+C: before each look at
// the line's input queue (monitor's every tick), on kv58's own thread, `stopWhen` is asked,
// and once it says so the stop is requested as SIGINT would request it.

#include <csignal>
#include <functional>
#include <string>
#include <utility>

#include "common/stop_request.h"
#include "serial/serial_driver.h"

namespace kv58::cli::test_support {

class StopWhenDriver final : public SerialDriver {
public:
  StopWhenDriver(SerialDriver& inner, std::function<bool()> stopWhen)
      : inner_(inner), stopWhen_(std::move(stopWhen)) {}

  PortHandle CreateFileA(std::string_view portName) override { return inner_.CreateFileA(portName); }
  OpenFailure LastOpenFailure() const override { return inner_.LastOpenFailure(); }
  bool CloseHandle(PortHandle handle) override { return inner_.CloseHandle(handle); }
  bool GetCommState(PortHandle handle, DCB& dcb) override { return inner_.GetCommState(handle, dcb); }
  bool SetCommState(PortHandle handle, const DCB& dcb) override { return inner_.SetCommState(handle, dcb); }
  bool SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) override {
    return inner_.SetCommTimeouts(handle, timeouts);
  }
  bool SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override {
    return inner_.SetupComm(handle, inQueue, outQueue);
  }
  bool ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) override {
    if (stopWhen_ && stopWhen_()) {
      RequestStop(StopLevel::Finish, SIGINT);
    }
    return inner_.ClearCommError(handle, errors, status);
  }
  bool ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override {
    return inner_.ReadFile(handle, buffer, count, read);
  }
  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t& written) override {
    return inner_.WriteFile(handle, buffer, count, written);
  }
  bool FlushFileBuffers(PortHandle handle) override { return inner_.FlushFileBuffers(handle); }
  std::string LineSettingsNote(PortHandle handle) const override { return inner_.LineSettingsNote(handle); }

private:
  SerialDriver& inner_;
  std::function<bool()> stopWhen_;
};

} // namespace kv58::cli::test_support
