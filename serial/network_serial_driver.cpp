#include "serial/network_serial_driver.h"

#include <algorithm>

#include "serial/port_name.h"

namespace kv58 {
namespace {

// The port's time-out is the time the bytes may take on the display's line; the network adds
// its own delay, and the server's acknowledgement, which a slow or distant link delays by more
// than a short write's time-out (a 3-byte frame gets 130 ms). It gets the bound of a step.
SteadyClock::time_point NetworkDeadline(const COMMTIMEOUTS& timeouts, std::uint32_t count) {
  return SteadyClock::now() + TotalWriteTimeout(timeouts, count).value_or(std::chrono::milliseconds(0)) +
         NetworkLine::kStepTimeout;
}

DCB DefaultDcb() {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  return dcb;
}

} // namespace

NetworkSerialDriver::OpenLine* NetworkSerialDriver::Find(PortHandle handle) {
  const auto found = lines_.find(handle);
  return found == lines_.end() ? nullptr : &found->second;
}

PortHandle NetworkSerialDriver::CreateFileA(std::string_view portName) {
  const auto name = ParsePortName(portName, PortNameRule::Strict);
  if (!name || !name->IsNetwork()) {
    lastOpenFailure_ = OpenFailure{OpenFailure::Kind::NoSuchPort, {}};
    return 0;
  }
  auto line = NetworkLine::Open(name->Network(), connect_, lastOpenFailure_);
  if (!line) {
    return 0;
  }
  lastOpenFailure_ = OpenFailure{};
  const PortHandle handle = nextHandle_++;
  lines_[handle] = OpenLine{std::move(line), DefaultDcb(), {}, {}};
  return handle;
}

bool NetworkSerialDriver::CloseHandle(PortHandle handle) {
  OpenLine* open = Find(handle);
  if (open == nullptr) {
    return false;
  }
  open->line->Finish();
  lines_.erase(handle);
  return true;
}

bool NetworkSerialDriver::GetCommState(PortHandle handle, DCB& dcb) {
  const OpenLine* open = Find(handle);
  if (open == nullptr) {
    return false;
  }
  dcb = open->dcb;
  return true;
}

bool NetworkSerialDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  OpenLine* open = Find(handle);
  if (open == nullptr) {
    return false;
  }
  open->lineSettingsNote.clear();
  if (!open->line->ApplyLineSettings(dcb.BaudRate, open->lineSettingsNote)) {
    return false;
  }
  open->dcb = dcb;
  return true;
}

bool NetworkSerialDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  OpenLine* open = Find(handle);
  if (open == nullptr) {
    return false;
  }
  open->timeouts = timeouts;
  return true;
}

bool NetworkSerialDriver::SetupComm(PortHandle handle, std::uint32_t /*inQueue*/,
                                    std::uint32_t /*outQueue*/) {
  return Find(handle) != nullptr; // the connection has buffers of its own
}

bool NetworkSerialDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  OpenLine* open = Find(handle);
  errors = 0;
  if (open == nullptr) {
    return false;
  }
  const std::uint32_t waiting = open->line->Available();
  if (waiting == 0 && !open->line->Alive()) {
    return false;
  }
  status = COMSTAT{};
  status.cbInQue = waiting;
  errors = open->line->TakeOverflow() ? CE_RXOVER : 0;
  return true;
}

bool NetworkSerialDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count,
                                   std::uint32_t& read) {
  OpenLine* open = Find(handle);
  read = 0;
  if (open == nullptr) {
    return false;
  }
  read = open->line->Read(static_cast<char*>(buffer), count);
  return true;
}

bool NetworkSerialDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                    std::uint32_t& written) {
  OpenLine* open = Find(handle);
  written = 0;
  if (open == nullptr) {
    return false;
  }
  written = open->line->Write(std::string_view(static_cast<const char*>(buffer), count),
                              NetworkDeadline(open->timeouts, count));
  open->undrainedBytes += written;
  return written == count || open->line->Alive();
}

bool NetworkSerialDriver::FlushFileBuffers(PortHandle handle) {
  OpenLine* open = Find(handle);
  if (open == nullptr) {
    return false;
  }
  const bool drained = open->line->Drain(NetworkDeadline(open->timeouts, open->undrainedBytes));
  open->undrainedBytes = 0;
  return drained;
}

std::string NetworkSerialDriver::LineSettingsNote(PortHandle handle) const {
  const auto found = lines_.find(handle);
  return found == lines_.end() ? std::string() : found->second.lineSettingsNote;
}

OpenFailure NetworkSerialDriver::LastStepFailure(PortHandle handle) const {
  const auto found = lines_.find(handle);
  return found == lines_.end() ? OpenFailure{} : found->second.line->StepFailure();
}

} // namespace kv58
