#include "tools/kv58_sim/rfc2217_server.h"

#include <vector>

#include "serial/com_port_option.h"

namespace kv58::sim {
namespace {

using telnet::kBinary;
using telnet::kComPortOption;
using telnet::kSuppressGoAhead;

constexpr std::string_view kSignature = "kv58-sim";

// RFC 2217's codes beyond the line settings that serial/com_port_option.h names.
constexpr std::uint8_t kSignatureCode = 0;
constexpr std::uint8_t kSetLineStateMask = 10;
constexpr std::uint8_t kSetModemStateMask = 11;
constexpr std::uint8_t kPurgeData = 12;

enum SettingBit : unsigned { kRateSet = 1, kDataSizeSet = 2, kParitySet = 4, kStopSizeSet = 8, kAllSet = 15 };

bool ServerUses(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }
bool ClientMayUse(std::uint8_t option) { return ServerUses(option) || option == kComPortOption; }

std::string Answer(std::uint8_t code, std::string_view value) {
  return telnet::Subnegotiation(
      kComPortOption, std::string(1, static_cast<char>(code + rfc2217::kServerAnswer)) + std::string(value));
}

std::string Answer(std::uint8_t code, std::uint8_t value) {
  return Answer(code, std::string(1, static_cast<char>(value)));
}

// A one-byte setting: 0 asks for the value in force; a value from `lowest` to `highest`
// replaces it. True when it was replaced.
bool TakeSetting(std::uint8_t asked, std::uint8_t lowest, std::uint8_t highest, std::uint8_t& held) {
  if (asked < lowest || asked > highest) {
    return false;
  }
  held = asked;
  return true;
}

} // namespace

Rfc2217Server::Rfc2217Server() {
  ours_[kSuppressGoAhead] = Side::WantYes;
  ours_[kBinary] = Side::WantYes;
  theirs_[kSuppressGoAhead] = Side::WantYes;
  theirs_[kBinary] = Side::WantYes;
  theirs_[kComPortOption] = Side::WantYes;
}

std::string Rfc2217Server::Greeting() const {
  using telnet::kDo;
  using telnet::kWill;
  using telnet::OptionCommand;
  return OptionCommand(kWill, kSuppressGoAhead) + OptionCommand(kDo, kSuppressGoAhead) +
         OptionCommand(kWill, kBinary) + OptionCommand(kDo, kBinary) + OptionCommand(kDo, kComPortOption);
}

void Rfc2217Server::Feed(std::string_view bytes, std::string& data, std::string& answers) {
  std::vector<telnet::Command> commands;
  reader_.Feed(bytes, data, commands);
  for (const telnet::Command& command : commands) {
    if (command.verb == telnet::kSb) {
      if (command.option == kComPortOption && theirs_[kComPortOption] == Side::Yes) {
        Subnegotiate(command.payload, answers);
      }
    } else {
      Negotiate(command.verb, command.option, answers);
    }
  }
}

void Rfc2217Server::Negotiate(std::uint8_t verb, std::uint8_t option, std::string& answers) {
  using namespace telnet;
  const bool asksToUse = verb == kDo || verb == kWill;
  const bool aboutServer = verb == kDo || verb == kDont;
  Side& side = aboutServer ? ours_[option] : theirs_[option];
  const bool agreeable = aboutServer ? ServerUses(option) : ClientMayUse(option);
  const std::uint8_t yes = aboutServer ? kWill : kDo;
  const std::uint8_t no = aboutServer ? kWont : kDont;
  switch (side) {
  case Side::No:
    if (asksToUse) {
      side = agreeable ? Side::Yes : Side::No;
      answers += OptionCommand(agreeable ? yes : no, option);
    }
    break;
  case Side::Yes:
    if (!asksToUse) {
      side = Side::No;
      answers += OptionCommand(no, option);
    }
    break;
  case Side::WantYes: // the client answers the server's offer
    side = asksToUse ? Side::Yes : Side::No;
    break;
  }
}

void Rfc2217Server::Subnegotiate(std::string_view payload, std::string& answers) {
  using rfc2217::Command;
  if (payload.empty()) {
    return;
  }
  const auto code = static_cast<std::uint8_t>(payload.front());
  const std::string_view value = payload.substr(1);
  const std::uint8_t asked = value.empty() ? 0 : static_cast<std::uint8_t>(value.front());
  const auto setting = [&](unsigned bit, std::uint8_t lowest, std::uint8_t highest, std::uint8_t& held) {
    setThisRound_ |= TakeSetting(asked, lowest, highest, held) ? bit : 0U;
    answers += Answer(code, held);
  };
  switch (code) {
  case kSignatureCode:
    if (value.empty()) {
      answers += Answer(code, kSignature);
    }
    break;
  case static_cast<std::uint8_t>(Command::SetBaudRate):
    if (value.size() >= rfc2217::kRateBytes) {
      const std::uint32_t rate = rfc2217::RateOf(value);
      if (rate != 0) {
        line_.baudRate = rate;
        setThisRound_ |= kRateSet;
      }
      answers += Answer(code, rfc2217::RateBytes(line_.baudRate));
    }
    break;
  case static_cast<std::uint8_t>(Command::SetDataSize):
    setting(kDataSizeSet, 5, 8, line_.dataBits);
    break;
  case static_cast<std::uint8_t>(Command::SetParity):
    setting(kParitySet, 1, 5, line_.parity);
    break;
  case static_cast<std::uint8_t>(Command::SetStopSize):
    setting(kStopSizeSet, 1, 3, line_.stopBits);
    break;
  case static_cast<std::uint8_t>(Command::SetControl):
    answers += Answer(code, TakeControl(asked));
    break;
  case static_cast<std::uint8_t>(Command::FlowControlSuspend):
    suspended_ = true;
    break;
  case static_cast<std::uint8_t>(Command::FlowControlResume):
    suspended_ = false;
    break;
  case kSetLineStateMask:
  case kSetModemStateMask:
  case kPurgeData:
    answers += Answer(code, asked);
    break;
  default:
    break; // nothing a client should send; a device server ignores it
  }
  if (setThisRound_ == kAllSet) {
    lineDue_ = true;
    setThisRound_ = 0;
  }
}

// SET-CONTROL's values come in groups, each with its own query: the answer is the group's
// value in force.
std::uint8_t Rfc2217Server::TakeControl(std::uint8_t value) {
  struct Group {
    std::uint8_t query, lowest, highest;
    std::uint8_t* held;
  };
  const std::array<Group, 5> groups{{
      {0, 1, 3, &outboundFlow_},
      {4, 5, 6, &breakState_},
      {7, 8, 9, &dtr_},
      {10, 11, 12, &rts_},
      {13, 14, 16, &inboundFlow_},
  }};
  for (const Group& group : groups) {
    if (value == group.query) {
      return *group.held;
    }
    if (value >= group.lowest && value <= group.highest) {
      *group.held = value;
      return value;
    }
  }
  return value; // DCD or DSR flow control and the like: taken as said
}

std::optional<SerialLine> Rfc2217Server::TakeLineSettings() {
  if (!lineDue_) {
    return std::nullopt;
  }
  lineDue_ = false;
  return line_;
}

} // namespace kv58::sim
