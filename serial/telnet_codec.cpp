#include "serial/telnet_codec.h"

namespace kv58::telnet {
namespace {

constexpr char AsChar(std::uint8_t byte) { return static_cast<char>(byte); }

bool IsNegotiationVerb(std::uint8_t byte) { return byte >= kWill && byte <= kDont; }

} // namespace

std::string EscapeData(std::string_view bytes) {
  std::string escaped;
  escaped.reserve(bytes.size() + bytes.size() / 8);
  for (const char byte : bytes) {
    escaped += byte;
    if (static_cast<std::uint8_t>(byte) == kIac) {
      escaped += byte;
    }
  }
  return escaped;
}

std::string OptionCommand(std::uint8_t verb, std::uint8_t option) {
  return {AsChar(kIac), AsChar(verb), AsChar(option)};
}

std::string Subnegotiation(std::uint8_t option, std::string_view payload) {
  return std::string{AsChar(kIac), AsChar(kSb), AsChar(option)} + EscapeData(payload) +
         std::string{AsChar(kIac), AsChar(kSe)};
}

void Reader::Feed(std::string_view bytes, std::string& data, std::vector<Command>& commands) {
  for (const char byte : bytes) {
    const auto value = static_cast<std::uint8_t>(byte);
    switch (state_) {
    case State::Data:
      if (value == kIac) {
        state_ = State::Iac;
      } else {
        data += byte;
      }
      break;
    case State::Iac:
      if (value == kIac) {
        data += byte; // a doubled 0xFF is one data byte
        state_ = State::Data;
      } else if (IsNegotiationVerb(value) || value == kSb) {
        pending_ = Command{value, 0, {}};
        state_ = value == kSb ? State::SbOption : State::Verb;
      } else {
        state_ = State::Data; // NOP, GA, AYT and the like carry nothing for us
      }
      break;
    case State::Verb:
      pending_.option = value;
      commands.push_back(std::move(pending_));
      state_ = State::Data;
      break;
    case State::SbOption:
      pending_.option = value;
      state_ = State::SbData;
      break;
    case State::SbData:
      if (value == kIac) {
        state_ = State::SbIac;
      } else {
        TakeSubnegotiationByte(byte);
      }
      break;
    case State::SbIac:
      if (value == kIac) {
        TakeSubnegotiationByte(byte);
        state_ = State::SbData;
      } else {
        // IAC SE ends it; any other command inside a subnegotiation ends it as well.
        commands.push_back(std::move(pending_));
        state_ = State::Data;
      }
      break;
    }
  }
}

void Reader::TakeSubnegotiationByte(char byte) {
  if (pending_.payload.size() < kMaxPayloadBytes) {
    pending_.payload += byte;
  }
}

} // namespace kv58::telnet
