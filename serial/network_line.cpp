#include "serial/network_line.h"

#include <array>
#include <thread>
#include <utility>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

// What ser2net (and others) send a second client before closing the connection.
constexpr std::string_view kInUseText = "Port already in use";
// How long a raw port is watched after connecting for a Telnet offer or an in-use notice.
constexpr auto kRawGreetingWait = 300ms;
// How long an RFC 2217 port is watched after the negotiation for an in-use notice.
constexpr auto kAfterNegotiationWait = 50ms;
// How long the connection stays open after the last bytes, for the server to pass them on.
constexpr auto kLingerBeforeClose = 100ms;

// RFC 2217 commands as the client sends them; the server answers each with code + 100.
enum ComPortCommand : std::uint8_t {
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
};
constexpr std::uint8_t kServerAnswer = 100;
constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kOneStopBit = 1;
constexpr std::uint8_t kNoFlowControl = 1;

std::string ComPortCommandBytes(std::uint8_t command, std::string_view value) {
  return telnet::Subnegotiation(telnet::kComPortOption,
                                std::string(1, static_cast<char>(command)) + std::string(value));
}

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::uint32_t FromBigEndian(std::string_view bytes) {
  std::uint32_t value = 0;
  for (const char byte : bytes.substr(0, 4)) {
    value = (value << 8) | static_cast<std::uint8_t>(byte);
  }
  return value;
}

bool LooksLikeTelnet(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<std::uint8_t>(bytes[0]) == telnet::kIac &&
         static_cast<std::uint8_t>(bytes[1]) >= telnet::kSb;
}

} // namespace

NetworkLine::NetworkLine(NetworkPort port, std::unique_ptr<ByteStream> stream)
    : port_(std::move(port)), stream_(std::move(stream)) {}

std::unique_ptr<NetworkLine> NetworkLine::Open(const NetworkPort& port, const StreamConnector& connect,
                                               std::string& error) {
  std::string reason;
  auto stream = connect(port, kStepTimeout, reason);
  if (!stream) {
    error = "cannot connect to " + HostAndPort(port) + ": " + reason;
    return nullptr;
  }
  std::unique_ptr<NetworkLine> line(new NetworkLine(port, std::move(stream)));
  const bool ready =
      port.mode == NetworkPort::Mode::Rfc2217 ? line->Negotiate(error) : line->CheckRawServer(error);
  return ready ? std::move(line) : nullptr;
}

std::string NetworkLine::Where() const { return HostAndPort(port_); }

bool NetworkLine::CheckRawServer(std::string& error) {
  (void)Pump(SteadyClock::now() + kRawGreetingWait);
  if (LooksLikeTelnet(received_)) {
    error = Where() + " speaks Telnet: it is an RFC 2217 port, so use rfc2217://" + Where();
    return false;
  }
  if (received_.starts_with(kInUseText) || !alive_) {
    error = InUseOrClosed();
    return false;
  }
  return true;
}

bool NetworkLine::Negotiate(std::string& error) {
  const std::string offer = telnet::OptionCommand(telnet::kWill, telnet::kComPortOption) +
                            telnet::OptionCommand(telnet::kWill, telnet::kBinary) +
                            telnet::OptionCommand(telnet::kDo, telnet::kBinary) +
                            telnet::OptionCommand(telnet::kDo, telnet::kSuppressGoAhead);
  said_ = {{telnet::kWill, telnet::kComPortOption},
           {telnet::kWill, telnet::kBinary},
           {telnet::kDo, telnet::kBinary},
           {telnet::kDo, telnet::kSuppressGoAhead}};
  if (!stream_->SendAll(offer, SteadyClock::now() + kStepTimeout)) {
    error = "cannot send WILL COM-PORT-OPTION to " + Where();
    return false;
  }
  const auto waitFor = [this](const std::function<bool()>& done) {
    const auto deadline = SteadyClock::now() + kStepTimeout;
    while (!done() && alive_ && !sawRawData_ && SteadyClock::now() < deadline) {
      (void)Pump(deadline);
    }
    return done();
  };
  const bool comPortAnswered = waitFor([this] { return comPortAccepted_ || comPortRefused_; });
  if (sawRawData_) {
    error = received_.starts_with(kInUseText)
                ? InUseOrClosed()
                : Where() + " answers without Telnet: it looks like a raw TCP port, so use tcp://" + Where();
    return false;
  }
  if (!comPortAnswered) {
    error = alive_ ? "no answer to WILL COM-PORT-OPTION from " + Where() +
                         " within 3 s (a raw TCP port stays silent: then use tcp://" + Where() + ")"
                   : Where() + " closed the connection during the Telnet negotiation";
    return false;
  }
  if (comPortRefused_) {
    error = Where() + " refuses COM-PORT-OPTION (RFC 2217): it cannot take the line settings";
    return false;
  }
  if (!waitFor([this] { return (binaryToServer_ && binaryFromServer_) || binaryRefused_; }) ||
      binaryRefused_) {
    error = Where() + " does not agree to BINARY both ways, which the display's bytes need (0x0D would "
                      "lose the 0x00 after it)";
    return false;
  }
  // A server whose port is taken may still negotiate, then say so and close.
  (void)Pump(SteadyClock::now() + kAfterNegotiationWait);
  if (received_.starts_with(kInUseText) || !alive_) {
    error = InUseOrClosed();
    return false;
  }
  return true;
}

std::string NetworkLine::InUseOrClosed() const {
  return received_.starts_with(kInUseText)
             ? Where() + " is in use by another client (the server said \"" + std::string(kInUseText) + "\")"
             : Where() + " closed the connection";
}

bool NetworkLine::ApplyLineSettings(std::uint32_t baudRate, std::string& note) {
  if (port_.mode == NetworkPort::Mode::Raw) {
    note = "tcp:// carries no line settings: the device server's own (" + Where() + ") apply, not " +
           std::to_string(baudRate) + " bit/s";
    return true;
  }
  baudAnswer_.reset();
  const std::string settings =
      ComPortCommandBytes(kSetBaudRate, BigEndian(baudRate)) +
      ComPortCommandBytes(kSetDataSize, std::string(1, '\x08')) +
      ComPortCommandBytes(kSetParity, std::string(1, static_cast<char>(kParityNone))) +
      ComPortCommandBytes(kSetStopSize, std::string(1, static_cast<char>(kOneStopBit))) +
      ComPortCommandBytes(kSetControl, std::string(1, static_cast<char>(kNoFlowControl)));
  const auto deadline = SteadyClock::now() + kStepTimeout;
  if (!stream_->SendAll(settings, deadline)) {
    alive_ = false;
    note = "cannot send SET-BAUDRATE to " + Where();
    return false;
  }
  while (!baudAnswer_ && alive_ && SteadyClock::now() < deadline) {
    (void)Pump(deadline);
  }
  if (!baudAnswer_) {
    note = "no answer to SET-BAUDRATE from " + Where() + " within 3 s";
    return false;
  }
  if (*baudAnswer_ != baudRate) {
    note = Where() + " holds " + std::to_string(*baudAnswer_) + " bit/s, not " + std::to_string(baudRate) +
           " as asked";
  }
  return true;
}

std::uint32_t NetworkLine::Write(std::string_view bytes, SteadyClock::time_point deadline) {
  (void)Pump(SteadyClock::now()); // a FLOWCONTROL-SUSPEND may be waiting unread
  while (flowSuspended_ && alive_ && SteadyClock::now() < deadline) {
    (void)Pump(deadline); // the server asked for a pause in sending
  }
  const std::string wire =
      port_.mode == NetworkPort::Mode::Rfc2217 ? telnet::EscapeData(bytes) : std::string(bytes);
  if (!alive_ || flowSuspended_) {
    return 0; // gone, or still held back by the server at the deadline: a time-out, not a loss
  }
  if (!stream_->SendAll(wire, deadline)) {
    alive_ = SteadyClock::now() >= deadline; // failing before the deadline, the connection is gone
    return 0;
  }
  return ServerTookEverything(deadline) ? static_cast<std::uint32_t>(bytes.size()) : 0;
}

bool NetworkLine::ServerTookEverything(SteadyClock::time_point deadline) {
  if (port_.mode == NetworkPort::Mode::Raw) {
    return stream_->WaitAcknowledged(deadline);
  }
  // The server answers commands in the order of the stream: once it has answered a query of
  // the rate, it has taken every byte sent before it. This holds on every system, also where
  // the socket cannot tell what the peer has acknowledged.
  baudAnswer_.reset();
  if (!stream_->SendAll(ComPortCommandBytes(kSetBaudRate, BigEndian(0)), deadline)) {
    return false;
  }
  while (!baudAnswer_ && Pump(deadline) && SteadyClock::now() < deadline) {
  }
  return baudAnswer_.has_value();
}

std::uint32_t NetworkLine::Available() {
  (void)Pump(SteadyClock::now());
  return static_cast<std::uint32_t>(received_.size());
}

std::uint32_t NetworkLine::Read(char* buffer, std::uint32_t capacity) {
  const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(capacity, received_.size()));
  received_.copy(buffer, count);
  received_.erase(0, count);
  return count;
}

bool NetworkLine::Alive() { return Pump(SteadyClock::now()); }

void NetworkLine::Finish() {
  if (!alive_) {
    return;
  }
  (void)ServerTookEverything(SteadyClock::now() + kStepTimeout);
  // Then a moment for the server to write them to the device before it is closed.
  std::this_thread::sleep_for(kLingerBeforeClose);
}

bool NetworkLine::Pump(SteadyClock::time_point deadline) {
  if (!alive_) {
    return false;
  }
  std::string chunk;
  const bool open = stream_->Receive(chunk, deadline);
  Take(chunk);
  alive_ = open;
  return alive_;
}

void NetworkLine::Take(std::string_view bytes) {
  std::string data;
  if (port_.mode == NetworkPort::Mode::Rfc2217) {
    std::vector<telnet::Command> commands;
    reader_.Feed(bytes, data, commands);
    for (const auto& command : commands) {
      Answer(command);
    }
    sawRawData_ = sawRawData_ || (!data.empty() && !comPortAccepted_);
  } else {
    data.assign(bytes);
  }
  received_ += data;
  if (received_.size() > kMaxReceivedBytes) {
    received_.erase(0, received_.size() - kMaxReceivedBytes);
  }
}

void NetworkLine::Answer(const telnet::Command& command) {
  using namespace telnet;
  const std::uint8_t option = command.option;
  const bool wanted = option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
  const auto reply = [this, option](std::uint8_t verb) {
    if (said_.insert({verb, option}).second) {
      (void)stream_->SendAll(OptionCommand(verb, option), SteadyClock::now() + kStepTimeout);
    }
  };
  switch (command.verb) {
  case kDo: // the server asks us to use an option
    comPortAccepted_ = comPortAccepted_ || option == kComPortOption;
    binaryToServer_ = binaryToServer_ || option == kBinary;
    reply(wanted ? kWill : kWont);
    break;
  case kDont:
    comPortRefused_ = comPortRefused_ || option == kComPortOption;
    binaryRefused_ = binaryRefused_ || option == kBinary;
    break;
  case kWill: // the server offers to use an option
    binaryFromServer_ = binaryFromServer_ || option == kBinary;
    reply(option == kBinary || option == kSuppressGoAhead ? kDo : kDont);
    break;
  case kWont:
    binaryRefused_ = binaryRefused_ || option == kBinary;
    break;
  case kSb:
    if (option == kComPortOption && !command.payload.empty()) {
      TakeComPortAnswer(command.payload);
    }
    break;
  default:
    break;
  }
}

void NetworkLine::TakeComPortAnswer(std::string_view payload) {
  const auto code = static_cast<std::uint8_t>(payload.front());
  const std::uint8_t command = code >= kServerAnswer ? static_cast<std::uint8_t>(code - kServerAnswer) : code;
  if (command == kSetBaudRate && code >= kServerAnswer && payload.size() >= 5) {
    baudAnswer_ = FromBigEndian(payload.substr(1));
  } else if (command == kFlowControlSuspend) {
    flowSuspended_ = true;
  } else if (command == kFlowControlResume) {
    flowSuspended_ = false;
  }
  // Line and modem state notices (106, 107), asked or not, and the other answers carry
  // nothing the display's protocol needs.
}

} // namespace kv58
