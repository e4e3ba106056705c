#include "app/responsive_driver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <future>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

// How long the window's thread waits on the call between two looks at its events: well under
// the 100 ms in which a window should answer.
constexpr auto kEventInterval = 10ms;

} // namespace

template <typename Call> auto ResponsiveDriver::KeepingWindowAlive(Call call) {
  busy_ = true;
  auto result = std::async(std::launch::async, std::move(call));
  while (result.wait_for(kEventInterval) != std::future_status::ready) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  busy_ = false;
  return result.get();
}

PortHandle ResponsiveDriver::CreateFileA(std::string_view portName) {
  return busy_
             ? 0
             : KeepingWindowAlive([this, name = std::string(portName)] { return inner_.CreateFileA(name); });
}

bool ResponsiveDriver::CloseHandle(PortHandle handle) {
  return !busy_ && KeepingWindowAlive([this, handle] { return inner_.CloseHandle(handle); });
}

bool ResponsiveDriver::GetCommState(PortHandle handle, DCB& dcb) {
  return !busy_ && KeepingWindowAlive([this, handle, &dcb] { return inner_.GetCommState(handle, dcb); });
}

bool ResponsiveDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  return !busy_ && KeepingWindowAlive([this, handle, &dcb] { return inner_.SetCommState(handle, dcb); });
}

bool ResponsiveDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  return !busy_ &&
         KeepingWindowAlive([this, handle, &timeouts] { return inner_.SetCommTimeouts(handle, timeouts); });
}

bool ResponsiveDriver::SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
  return !busy_ && KeepingWindowAlive([this, handle, inQueue, outQueue] {
    return inner_.SetupComm(handle, inQueue, outQueue);
  });
}

bool ResponsiveDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  if (busy_) {
    errors = 0;
    status = COMSTAT{}; // nothing waiting, as far as this caller can be told
    return true;
  }
  return KeepingWindowAlive(
      [this, handle, &errors, &status] { return inner_.ClearCommError(handle, errors, status); });
}

bool ResponsiveDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  return busy_ || KeepingWindowAlive([this, handle, buffer, count, &read] {
           return inner_.ReadFile(handle, buffer, count, read);
         });
}

bool ResponsiveDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                 std::uint32_t& written) {
  written = 0;
  return !busy_ && KeepingWindowAlive([this, handle, buffer, count, &written] {
    return inner_.WriteFile(handle, buffer, count, written);
  });
}

bool ResponsiveDriver::FlushFileBuffers(PortHandle handle) {
  return !busy_ && KeepingWindowAlive([this, handle] { return inner_.FlushFileBuffers(handle); });
}

} // namespace kv58
