#include "protocol/device_port.h"

#include "protocol/line_settings.h"

namespace kv58 {

std::optional<OpenStep> OpenDevicePort(TCOMSocket& port, std::string_view name, std::int32_t baudRate) {
  if (!port.SetPortName(name)) {
    return OpenStep::PortName;
  }
  if (!port.Open()) {
    return OpenStep::Open;
  }
  if (!port.ReadSettings()) {
    return OpenStep::ReadSettings;
  }
  SetDeviceLineSettings(port, baudRate);
  if (!port.WriteSettings()) {
    return OpenStep::LineSettings;
  }
  if (!port.WriteQueueSizes() || !port.WriteTimeouts() || !port.ReadSettings()) {
    return OpenStep::QueuesAndTimeouts;
  }
  return std::nullopt;
}

} // namespace kv58
