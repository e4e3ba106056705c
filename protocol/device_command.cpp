#include "protocol/device_command.h"

#include <array>

namespace kv58 {

bool SendCommand(TCOMSocket& port, TDeviceCommand code, std::uint8_t parameter) {
  const std::array<std::uint8_t, 3> frame{kCommandMarker, static_cast<std::uint8_t>(code), parameter};
  const std::size_t length = HasParameter(code) ? 3 : 2;
  bool everyByteTaken = true;
  // No early exit: the port is offered every byte of the frame whatever it made of the
  // ones before, so a hiccup on one byte does not change what else goes on the line.
  for (std::size_t i = 0; i < length; ++i) {
    if (port.Write(&frame[i], 1) != 1) {
      everyByteTaken = false;
    }
  }
  return everyByteTaken;
}

std::string_view SentLine(TDeviceCommand code) {
  switch (code) {
  case TDeviceCommand::dcSpeed:
    return kSpeedSentLine;
  case TDeviceCommand::dcFirstLine:
    return kFirstLineSentLine;
  case TDeviceCommand::dcLastLine:
    return kLastLineSentLine;
  case TDeviceCommand::dcScrollType:
    return kScrollTypeSentLine;
  case TDeviceCommand::dcStore:
    return kStoreSentLine;
  case TDeviceCommand::dcReset:
    return kResetSentLine;
  case TDeviceCommand::dcText:
    break;
  }
  return {};
}

void LogOutcome(DebugLog& log, TDeviceCommand code, bool sent) {
  if (code == TDeviceCommand::dcText) {
    return;
  }
  log.Log(sent ? SentLine(code) : kPortNotConnectedLine);
}

void SendAndLog(TCOMSocket& port, DebugLog& log, TDeviceCommand code, std::uint8_t parameter) {
  LogOutcome(log, code, SendCommand(port, code, parameter));
}

} // namespace kv58
