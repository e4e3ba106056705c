#include "serial/off_thread_driver.h"

#include <chrono>
#include <future>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

// How long the calling thread waits on the call between two turns of `whileWaiting`: well
// under the 100 ms in which a window should answer.
constexpr auto kWaitSlice = 10ms;

} // namespace

template <typename Call> auto OffThreadDriver::OffThread(Call call) {
  busy_ = true;
  auto result = std::async(std::launch::async, std::move(call));
  while (result.wait_for(kWaitSlice) != std::future_status::ready) {
    whileWaiting_();
  }
  busy_ = false;
  return result.get();
}

PortHandle OffThreadDriver::CreateFileA(std::string_view portName) {
  return busy_ ? 0 : OffThread([this, name = std::string(portName)] { return inner_.CreateFileA(name); });
}

bool OffThreadDriver::CloseHandle(PortHandle handle) {
  return !busy_ && OffThread([this, handle] { return inner_.CloseHandle(handle); });
}

bool OffThreadDriver::GetCommState(PortHandle handle, DCB& dcb) {
  return !busy_ && OffThread([this, handle, &dcb] { return inner_.GetCommState(handle, dcb); });
}

bool OffThreadDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  return !busy_ && OffThread([this, handle, &dcb] { return inner_.SetCommState(handle, dcb); });
}

bool OffThreadDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  return !busy_ && OffThread([this, handle, &timeouts] { return inner_.SetCommTimeouts(handle, timeouts); });
}

bool OffThreadDriver::SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
  return !busy_ &&
         OffThread([this, handle, inQueue, outQueue] { return inner_.SetupComm(handle, inQueue, outQueue); });
}

bool OffThreadDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  if (busy_) {
    errors = 0;
    status = COMSTAT{}; // nothing waiting, as far as this caller can be told
    return true;
  }
  return OffThread(
      [this, handle, &errors, &status] { return inner_.ClearCommError(handle, errors, status); });
}

bool OffThreadDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  return busy_ || OffThread([this, handle, buffer, count, &read] {
           return inner_.ReadFile(handle, buffer, count, read);
         });
}

bool OffThreadDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                std::uint32_t& written) {
  written = 0;
  return !busy_ && OffThread([this, handle, buffer, count, &written] {
    return inner_.WriteFile(handle, buffer, count, written);
  });
}

bool OffThreadDriver::FlushFileBuffers(PortHandle handle) {
  return !busy_ && OffThread([this, handle] { return inner_.FlushFileBuffers(handle); });
}

} // namespace kv58
