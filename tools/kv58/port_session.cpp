#include "tools/kv58/port_session.h"

namespace kv58::cli {
namespace {

// A device server's failure comes with the step and the host in its detail; the kind's own
// words stand where there is none.
std::string OpenFailureReason(const OpenFailure& failure) {
  using Kind = OpenFailure::Kind;
  const auto detailOr = [&failure](const char* words) {
    return failure.detail.empty() ? std::string(words) : failure.detail;
  };
  switch (failure.kind) {
  case Kind::None: // no reason given
  case Kind::NoSuchPort:
    return "no device has that name (see 'Ports' in kv58 --help)";
  case Kind::Missing:
    return "it does not exist";
  case Kind::InUse:
    return detailOr("another program is using it");
  case Kind::AccessDenied:
    return "permission denied (on most systems serial ports belong to the group dialout)";
  case Kind::NotSerial:
    return "it is not a serial port";
  case Kind::NameNotFound:
    return detailOr("the device server's name is not known");
  case Kind::LookUpTimedOut:
    return detailOr("the look-up of the device server's name did not end in time");
  case Kind::NoThread:
    return detailOr("the system would not start a thread for the name look-up");
  case Kind::Interrupted:
    return detailOr("interrupted");
  case Kind::Refused:
    return detailOr("the device server refused the connection");
  case Kind::NoAnswer:
    return detailOr("the device server did not answer");
  case Kind::WrongMode:
    return detailOr("the device server speaks the other mode (rfc2217:// or tcp://)");
  case Kind::Unsupported:
    return detailOr("the device server cannot carry the display's line");
  case Kind::Lost:
    return detailOr("the device server closed the connection");
  case Kind::TooManyOpenFiles:
    return detailOr("too many open files");
  case Kind::TlsPlainServer:
    return detailOr("the device server speaks in clear where TLS was expected");
  case Kind::TlsExpected:
    return detailOr("the device server closed the connection: it may expect TLS");
  case Kind::TlsUntrusted:
    return detailOr("the device server's certificate is not trusted");
  case Kind::TlsNameMismatch:
    return detailOr("the device server's certificate is for another name");
  case Kind::TlsPinMismatch:
    return detailOr("the device server's certificate is not the pinned one (possible interception)");
  case Kind::TlsClientCertRequired:
    return detailOr("the device server wants a client certificate");
  case Kind::TlsUnsupportedKey:
    return detailOr("the system's TLS cannot use the device server's key");
  case Kind::TlsFailed:
    return detailOr("the TLS handshake failed");
  case Kind::Other:
    break;
  }
  return failure.detail;
}

FailureKind OpenStepKind(OpenStep step, const TCOMSocket& port) {
  switch (step) {
  case OpenStep::Ready:
    return FailureKind::None;
  case OpenStep::PortName:
    return FailureKind::NoSuchPort;
  case OpenStep::Open:
    return KindOf(port.LastOpenFailure().kind);
  case OpenStep::ReadSettings:
    return FailureKind::NotSerial;
  case OpenStep::LineSettings:
    // A device server that did not answer is no refusal of the settings.
    return port.LastStepFailure().kind == OpenFailure::Kind::NoAnswer ? FailureKind::NoAnswer
                                                                      : FailureKind::LineSettings;
  case OpenStep::QueuesAndTimeouts:
    break;
  }
  return FailureKind::LineSettings;
}

std::string OpenStepError(OpenStep step, const TCOMSocket& port, std::int32_t baudRate) {
  const std::string lineSettings = std::to_string(baudRate) + " bit/s, 8 data bits, no parity, one stop bit";
  switch (step) {
  case OpenStep::Ready:
    return {};
  case OpenStep::PortName:
    return "not a port name";
  case OpenStep::Open:
    return "cannot open the port: " + OpenFailureReason(port.LastOpenFailure());
  case OpenStep::ReadSettings:
    return "cannot read the port's settings; it may not be a serial port";
  case OpenStep::LineSettings:
    // A device server says why: no answer to SET-BAUDRATE, say.
    if (const std::string note = port.LineSettingsNote(); !note.empty()) {
      return "the line settings (" + lineSettings + ") were not taken: " + note;
    }
    return "the port refused the line settings (" + lineSettings + ")";
  case OpenStep::QueuesAndTimeouts:
    break;
  }
  return "the port refused its queue sizes or time-outs";
}

} // namespace

PortOpening OpenPortForDevice(TCOMSocket& port, const PortName& name, std::int32_t baudRate) {
  const OpenStep step = OpenDevicePort(port, name, baudRate);
  return {step, OpenStepError(step, port, baudRate), OpenStepKind(step, port)};
}

FailureKind WriteFailureKind(TCOMSocket& port) {
  if (port.LastStepFailure().kind == OpenFailure::Kind::NoAnswer) {
    return FailureKind::NoAnswer;
  }
  return port.LineIsAlive() ? FailureKind::Timeout : FailureKind::Lost;
}

std::string WriteFailureReason(TCOMSocket& port) {
  // A device server's own account: the step it left unanswered, and for how long.
  if (const OpenFailure step = port.LastStepFailure();
      step.kind == OpenFailure::Kind::NoAnswer && !step.detail.empty()) {
    return step.detail;
  }
  return port.LineIsAlive() ? "the port did not take the bytes in time" : std::string(kLineGoneReason);
}

} // namespace kv58::cli
