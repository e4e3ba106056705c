#include "serial/testing/fake_serial_driver.h"

#include <algorithm>
#include <cstring>

namespace kv58::testing {

std::vector<std::string> FakeSerialDriver::CallNames() const {
  std::vector<std::string> names;
  names.reserve(calls.size());
  for (const auto& call : calls) {
    names.push_back(call.function);
  }
  return names;
}

std::size_t FakeSerialDriver::CountOf(const std::string& function) const {
  return static_cast<std::size_t>(
      std::count_if(calls.begin(), calls.end(), [&](const Call& call) { return call.function == function; }));
}

void FakeSerialDriver::ClearRecord() {
  calls.clear();
  sent.clear();
  writes.clear();
}

PortHandle FakeSerialDriver::CreateFileA(std::string_view portName) {
  calls.push_back({"CreateFileA", 0, 0, std::string(portName)});
  if (!Succeeds("CreateFileA") || absentPorts.contains(std::string(portName))) {
    lastOpenFailure_ = openFailure;
    return 0;
  }
  lastOpenFailure_ = OpenFailure{};
  const PortHandle handle = nextHandle_++;
  openHandles.insert(handle);
  return handle;
}

bool FakeSerialDriver::CloseHandle(PortHandle handle) {
  calls.push_back({"CloseHandle", handle, 0, {}});
  if (!Succeeds("CloseHandle")) {
    return false;
  }
  openHandles.erase(handle);
  return true;
}

bool FakeSerialDriver::GetCommState(PortHandle handle, DCB& dcb) {
  calls.push_back({"GetCommState", handle, 0, {}});
  if (!Succeeds("GetCommState")) {
    return false;
  }
  dcb = reportedDcb;
  return true;
}

bool FakeSerialDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  calls.push_back({"SetCommState", handle, dcb.BaudRate, {}});
  if (!Succeeds("SetCommState")) {
    return false;
  }
  lastDcb = dcb;
  reportedDcb = dcb;
  return true;
}

bool FakeSerialDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  calls.push_back({"SetCommTimeouts", handle, 0, {}});
  if (!Succeeds("SetCommTimeouts")) {
    return false;
  }
  lastTimeouts = timeouts;
  return true;
}

bool FakeSerialDriver::SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
  calls.push_back({"SetupComm", handle, inQueue, std::to_string(outQueue)});
  if (!Succeeds("SetupComm")) {
    return false;
  }
  lastQueueSizes = std::pair{inQueue, outQueue};
  return true;
}

bool FakeSerialDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  calls.push_back({"ClearCommError", handle, 0, {}});
  if (!Succeeds("ClearCommError")) {
    return false;
  }
  errors = 0;
  status = COMSTAT{};
  status.cbInQue = reportedQueue.value_or(static_cast<std::uint32_t>(incoming.size()));
  return true;
}

bool FakeSerialDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  calls.push_back({"ReadFile", handle, count, {}});
  if (!Succeeds("ReadFile")) {
    read = 0;
    return false;
  }
  const auto taken = std::min<std::size_t>(count, incoming.size());
  std::memcpy(buffer, incoming.data(), taken);
  incoming.erase(0, taken);
  read = static_cast<std::uint32_t>(taken);
  return true;
}

bool FakeSerialDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                 std::uint32_t& written) {
  const std::string bytes(static_cast<const char*>(buffer), count);
  calls.push_back({"WriteFile", handle, count, bytes});
  if (!Succeeds("WriteFile")) {
    written = 0;
    return false;
  }
  written = std::min(count, acceptPerWrite.value_or(count));
  sent += bytes.substr(0, written);
  writes.push_back(bytes.substr(0, written));
  return true;
}

bool FakeSerialDriver::FlushFileBuffers(PortHandle handle) {
  calls.push_back({"FlushFileBuffers", handle, 0, {}});
  return Succeeds("FlushFileBuffers");
}

} // namespace kv58::testing
