#include "tools/kv58/port_session.h"

#include "protocol/device_port.h"

namespace kv58::cli {
namespace {

std::string OpenFailureReason(const OpenFailure& failure) {
  switch (failure.kind) {
  case OpenFailure::Kind::None: // no reason given
  case OpenFailure::Kind::NoSuchPort:
    return "no device has that name (see 'Ports' in kv58 --help)";
  case OpenFailure::Kind::Missing:
    return "it does not exist";
  case OpenFailure::Kind::InUse:
    return "another program is using it";
  case OpenFailure::Kind::AccessDenied:
    return "permission denied (on most systems serial ports belong to the group dialout)";
  case OpenFailure::Kind::NotSerial:
    return "it is not a serial port";
  case OpenFailure::Kind::Other:
    break;
  }
  return failure.systemText;
}

std::string OpenStepError(OpenStep step, const TCOMSocket& port, std::int32_t baudRate) {
  switch (step) {
  case OpenStep::PortName:
    return "not a port name";
  case OpenStep::Open:
    return "cannot open the port: " + OpenFailureReason(port.LastOpenFailure());
  case OpenStep::ReadSettings:
    return "cannot read the port's settings; it may not be a serial port";
  case OpenStep::LineSettings:
    return "the port refused the line settings (" + std::to_string(baudRate) +
           " bit/s, 8 data bits, no parity, one stop bit)";
  case OpenStep::QueuesAndTimeouts:
    break;
  }
  return "the port refused its queue sizes or time-outs";
}

} // namespace

std::optional<std::string> OpenPortForDevice(TCOMSocket& port, std::string_view name, std::int32_t baudRate) {
  const auto failed = OpenDevicePort(port, name, baudRate);
  if (!failed) {
    return std::nullopt;
  }
  return OpenStepError(*failed, port, baudRate);
}

std::string WriteFailureReason(TCOMSocket& port) {
  return port.LineIsAlive() ? "the port did not take the bytes in time" : std::string(kLineGoneReason);
}

} // namespace kv58::cli
