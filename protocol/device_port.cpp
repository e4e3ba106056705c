#include "protocol/device_port.h"

#include "protocol/line_settings.h"

namespace kv58 {

namespace {

// The steps after the name: the open, the settings, the queues and the time-outs.
OpenStep OpenNamedPort(TCOMSocket& port, std::int32_t baudRate) {
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
  return OpenStep::Ready;
}

} // namespace

OpenStep OpenDevicePort(TCOMSocket& port, std::string_view name, std::int32_t baudRate) {
  if (!port.SetPortName(name)) {
    return OpenStep::PortName;
  }
  return OpenNamedPort(port, baudRate);
}

OpenStep OpenDevicePort(TCOMSocket& port, const PortName& name, std::int32_t baudRate) {
  if (!port.SetPortName(name)) {
    return OpenStep::PortName;
  }
  return OpenNamedPort(port, baudRate);
}

bool CloseDevicePort(TCOMSocket& port) {
  if (port.IsOpen()) {
    (void)port.Drain();
  }
  return port.Close();
}

} // namespace kv58
