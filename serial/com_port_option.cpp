#include "serial/com_port_option.h"

#include "serial/telnet_codec.h"

namespace kv58::rfc2217 {
namespace {

constexpr std::uint8_t kEightDataBits = 8;
constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kOneStopBit = 1;
constexpr std::uint8_t kNoFlowControl = 1;

std::string CommandBytes(Command command, std::string_view value) {
  return telnet::Subnegotiation(telnet::kComPortOption,
                                std::string(1, static_cast<char>(command)) + std::string(value));
}

std::string OneByte(std::uint8_t value) { return std::string(1, static_cast<char>(value)); }

bool IsAnswerTo(std::uint8_t code, Command command) {
  return code == kServerAnswer + static_cast<std::uint8_t>(command);
}

} // namespace

std::string RateBytes(std::uint32_t rate) {
  return {static_cast<char>(rate >> 24), static_cast<char>(rate >> 16), static_cast<char>(rate >> 8),
          static_cast<char>(rate)};
}

std::uint32_t RateOf(std::string_view bytes) {
  std::uint32_t rate = 0;
  for (const char byte : bytes.substr(0, kRateBytes)) {
    rate = (rate << 8) | static_cast<std::uint8_t>(byte);
  }
  return rate;
}

std::string SetBaudRate(std::uint32_t rate) { return CommandBytes(Command::SetBaudRate, RateBytes(rate)); }

std::string DisplayLineSettings(std::uint32_t rate) {
  return SetBaudRate(rate) + CommandBytes(Command::SetDataSize, OneByte(kEightDataBits)) +
         CommandBytes(Command::SetParity, OneByte(kParityNone)) +
         CommandBytes(Command::SetStopSize, OneByte(kOneStopBit)) +
         CommandBytes(Command::SetControl, OneByte(kNoFlowControl));
}

ServerNotice ReadServerPayload(std::string_view payload) {
  if (payload.empty()) {
    return {};
  }
  const auto code = static_cast<std::uint8_t>(payload.front());
  if (IsAnswerTo(code, Command::SetBaudRate) && payload.size() > kRateBytes) {
    return {ServerNotice::Kind::BaudRate, RateOf(payload.substr(1))};
  }
  // Flow control is asked for with the client's code or, by some servers, the answer's.
  if (code == static_cast<std::uint8_t>(Command::FlowControlSuspend) ||
      IsAnswerTo(code, Command::FlowControlSuspend)) {
    return {ServerNotice::Kind::SuspendFlow, 0};
  }
  if (code == static_cast<std::uint8_t>(Command::FlowControlResume) ||
      IsAnswerTo(code, Command::FlowControlResume)) {
    return {ServerNotice::Kind::ResumeFlow, 0};
  }
  // Line and modem state notices (106, 107), asked or not, and the other answers carry
  // nothing the display's line needs.
  return {};
}

} // namespace kv58::rfc2217
