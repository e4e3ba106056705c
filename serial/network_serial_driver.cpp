#include "serial/network_serial_driver.h"

#include <algorithm>

namespace kv58 {
namespace {

// The port's time-out is the time the bytes may take on the display's line; the network adds
// the server's acknowledgement, which a slow or distant link delays by more than a short
// write's time-out (a 3-byte frame gets 130 ms). It gets the bound of a negotiation step.
SteadyClock::time_point WriteDeadline(const COMMTIMEOUTS& timeouts, std::uint32_t count) {
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
  const auto port = ParseNetworkPort(portName);
  if (!port) {
    lastOpenFailure_ = OpenFailure{OpenFailure::Kind::NoSuchPort, {}};
    return 0;
  }
  std::string error;
  auto line = NetworkLine::Open(*port, connect_, error);
  if (!line) {
    lastOpenFailure_ = OpenFailure{OpenFailure::Kind::Other, error};
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
                              WriteDeadline(open->timeouts, count));
  return written == count || open->line->Alive();
}

std::string NetworkSerialDriver::LineSettingsNote(PortHandle handle) const {
  const auto found = lines_.find(handle);
  return found == lines_.end() ? std::string() : found->second.lineSettingsNote;
}

// ---- the router -----------------------------------------------------------------------

const RoutingSerialDriver::Route* RoutingSerialDriver::Find(PortHandle handle) const {
  const auto found = routes_.find(handle);
  return found == routes_.end() ? nullptr : &found->second;
}

PortHandle RoutingSerialDriver::CreateFileA(std::string_view portName) {
  lastDriver_ = ParseNetworkPort(portName) ? network_.get() : local_.get();
  const PortHandle inner = lastDriver_->CreateFileA(portName);
  if (inner == 0) {
    return 0;
  }
  const PortHandle handle = nextHandle_++;
  routes_[handle] = Route{lastDriver_, inner};
  return handle;
}

bool RoutingSerialDriver::CloseHandle(PortHandle handle) {
  const Route* route = Find(handle);
  if (route == nullptr || !route->driver->CloseHandle(route->inner)) {
    return false;
  }
  routes_.erase(handle);
  return true;
}

bool RoutingSerialDriver::GetCommState(PortHandle handle, DCB& dcb) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->GetCommState(route->inner, dcb);
}

bool RoutingSerialDriver::SetCommState(PortHandle handle, const DCB& dcb) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->SetCommState(route->inner, dcb);
}

bool RoutingSerialDriver::SetCommTimeouts(PortHandle handle, const COMMTIMEOUTS& timeouts) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->SetCommTimeouts(route->inner, timeouts);
}

bool RoutingSerialDriver::SetupComm(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->SetupComm(route->inner, inQueue, outQueue);
}

bool RoutingSerialDriver::ClearCommError(PortHandle handle, std::uint32_t& errors, COMSTAT& status) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->ClearCommError(route->inner, errors, status);
}

bool RoutingSerialDriver::ReadFile(PortHandle handle, void* buffer, std::uint32_t count,
                                   std::uint32_t& read) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->ReadFile(route->inner, buffer, count, read);
}

bool RoutingSerialDriver::WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                                    std::uint32_t& written) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->WriteFile(route->inner, buffer, count, written);
}

std::string RoutingSerialDriver::LineSettingsNote(PortHandle handle) const {
  const Route* route = Find(handle);
  return route == nullptr ? std::string() : route->driver->LineSettingsNote(route->inner);
}

} // namespace kv58
