#include "tools/kv58/port_session.h"

#include "protocol/line_settings.h"
#include "tools/kv58/system_error.h"

namespace kv58::cli {

std::optional<std::string> OpenDevicePort(TCOMSocket& port, std::string_view name, std::int32_t baudRate) {
  if (!port.SetPortName(name)) {
    return "not a port name";
  }
  ClearSystemError();
  if (!port.Open()) {
    return "cannot open the port: " + OpenFailureReason(LastSystemError());
  }
  if (!port.ReadSettings()) {
    return "cannot read the port's settings; it may not be a serial port";
  }
  SetDeviceLineSettings(port, baudRate);
  if (!port.WriteSettings()) {
    return "the port refused the line settings (" + std::to_string(baudRate) +
           " bit/s, 8 data bits, no parity, one stop bit)";
  }
  if (!port.WriteQueueSizes() || !port.WriteTimeouts() || !port.ReadSettings()) {
    return "the port refused its queue sizes or time-outs";
  }
  return std::nullopt;
}

bool LineIsGone(SerialDriver& driver, const TCOMSocket& port) {
  std::uint32_t errors = 0;
  COMSTAT status;
  return !port.IsOpen() || !driver.ClearCommError(port.GetHandle(), errors, status);
}

std::string WriteFailureReason(SerialDriver& driver, const TCOMSocket& port) {
  return LineIsGone(driver, port)
             ? "the port is gone (the device was unplugged, or the other end of the line closed)"
             : "the port did not take the bytes in time";
}

} // namespace kv58::cli
