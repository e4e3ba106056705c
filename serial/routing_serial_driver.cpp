#include "serial/routing_serial_driver.h"

#include "serial/port_name.h"

namespace kv58 {

const RoutingSerialDriver::Route* RoutingSerialDriver::Find(PortHandle handle) const {
  const auto found = routes_.find(handle);
  return found == routes_.end() ? nullptr : &found->second;
}

PortHandle RoutingSerialDriver::CreateFileA(std::string_view portName) {
  const auto name = ParsePortName(portName, PortNameRule::Strict);
  lastDriver_ = name && name->IsNetwork() ? network_.get() : local_.get();
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

bool RoutingSerialDriver::FlushFileBuffers(PortHandle handle) {
  const Route* route = Find(handle);
  return route != nullptr && route->driver->FlushFileBuffers(route->inner);
}

std::string RoutingSerialDriver::LineSettingsNote(PortHandle handle) const {
  const Route* route = Find(handle);
  return route == nullptr ? std::string() : route->driver->LineSettingsNote(route->inner);
}

OpenFailure RoutingSerialDriver::LastStepFailure(PortHandle handle) const {
  const Route* route = Find(handle);
  return route == nullptr ? OpenFailure{} : route->driver->LastStepFailure(route->inner);
}

} // namespace kv58
