#include "serial/network_line.h"

#include <algorithm>
#include <array>
#include <semaphore>
#include <thread>
#include <utility>

#include "common/stop_request.h"
#include "serial/com_port_option.h"
#include "serial/tls_stream.h"

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
// The most a drain waits once the server has left one unanswered: the same answer is not
// waited for a second full step (when closing, say).
constexpr auto kAfterUnansweredWait = 500ms;

// TLS connections being set up at once (the connection and the handshake), over every display
// of the process. A fleet that began a thousand together would have the device server accept
// them all before it answers the first handshake, and every handshake would run past its bound
// waiting on the others; taking turns, each gets its whole step, and the last of a thousand is
// done within seconds.
constexpr std::ptrdiff_t kHandshakesAtOnce = 128;

std::counting_semaphore<kHandshakesAtOnce>& HandshakeTurns() {
  static std::counting_semaphore<kHandshakesAtOnce> turns(kHandshakesAtOnce);
  return turns;
}

// A turn among them, given back when the handshake is over (or the open failed).
class HandshakeTurn {
public:
  HandshakeTurn() = default;
  ~HandshakeTurn() { Give(); }
  HandshakeTurn(const HandshakeTurn&) = delete;
  HandshakeTurn& operator=(const HandshakeTurn&) = delete;

  // Waits for a turn; false when a request of the user's to stop came first.
  [[nodiscard]] bool Take() {
    while (!HandshakeTurns().try_acquire_for(kStopPollInterval)) {
      if (StopRequested()) {
        return false;
      }
    }
    held_ = true;
    return true;
  }
  void Give() {
    if (std::exchange(held_, false)) {
      HandshakeTurns().release();
    }
  }

private:
  bool held_ = false;
};

// Whether `deadline`, as a request of the user's to stop brings it forward, is still to come.
bool Before(SteadyClock::time_point deadline) { return SteadyClock::now() < StopBoundDeadline(deadline); }

// The steps of an open give up at the first request to stop (StopRequested): no byte of the
// display's has been sent yet, so there is nothing to end whole.

// Whether a wait for `deadline` ended before it because the user asked to stop.
bool CutShortByStop(SteadyClock::time_point deadline) {
  return StopRequested() && SteadyClock::now() < deadline;
}

// "3 s", "1.7 s", "50 ms": how long a wait that began at `start` went on, to `deadline` at most.
std::string WaitedText(SteadyClock::time_point start, SteadyClock::time_point deadline) {
  const auto end = std::min(SteadyClock::now(), deadline);
  const auto millis =
      (std::chrono::duration_cast<std::chrono::microseconds>(end - start).count() + 500) / 1000;
  if (millis < 1000) {
    return std::to_string(millis) + " ms";
  }
  const auto tenths = (millis + 50) / 100;
  return std::to_string(tenths / 10) + (tenths % 10 == 0 ? "" : "." + std::to_string(tenths % 10)) + " s";
}

// A slice of an open's wait, so that a request to stop is seen within kStopPollInterval.
SteadyClock::time_point OpenSlice(SteadyClock::time_point deadline) {
  return std::min(deadline, SteadyClock::now() + kStopPollInterval);
}

// What we ask of an RFC 2217 server: COM-PORT-OPTION, BINARY both ways, and no go-aheads.
constexpr std::array<std::pair<std::uint8_t, std::uint8_t>, 4> kOurOffer{{
    {telnet::kWill, telnet::kComPortOption},
    {telnet::kWill, telnet::kBinary},
    {telnet::kDo, telnet::kBinary},
    {telnet::kDo, telnet::kSuppressGoAhead},
}};

bool LooksLikeTelnet(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<std::uint8_t>(bytes[0]) == telnet::kIac &&
         static_cast<std::uint8_t>(bytes[1]) >= telnet::kSb;
}

} // namespace

NetworkLine::NetworkLine(NetworkPort port, std::unique_ptr<ByteStream> stream)
    : port_(std::move(port)), stream_(std::move(stream)) {}

std::unique_ptr<NetworkLine> NetworkLine::Open(const NetworkPort& port, const StreamConnector& connect,
                                               OpenFailure& failure) {
  HandshakeTurn turn;
  if (port.tls && !turn.Take()) {
    failure = {OpenFailure::Kind::Interrupted, "interrupted before connecting to " + HostAndPort(port)};
    return nullptr;
  }
  auto stream = connect(port, kStepTimeout, failure);
  if (!stream) {
    if (failure.kind != OpenFailure::Kind::Interrupted) { // that one names the step and the host
      failure.detail = "cannot connect to " + HostAndPort(port) + ": " + failure.detail;
    }
    return nullptr;
  }
  if (port.tls) {
    // A step of its own, with its own bound: the handshake, and the server's certificate checked.
    stream = StartTls(std::move(stream), port, SteadyClock::now() + kStepTimeout, failure);
    if (!stream) {
      return nullptr;
    }
    turn.Give();
  }
  std::unique_ptr<NetworkLine> line(new NetworkLine(port, std::move(stream)));
  const bool ready =
      port.mode == NetworkPort::Mode::Rfc2217 ? line->Negotiate(failure) : line->CheckRawServer(failure);
  return ready ? std::move(line) : nullptr;
}

std::string NetworkLine::Where() const { return HostAndPort(port_); }

std::string NetworkLine::Url(NetworkPort::Mode mode) const {
  NetworkPort other = port_;
  other.mode = mode;
  return NetworkPortName(other);
}

std::string NetworkLine::TlsUrl() const {
  NetworkPort other = port_;
  other.tls = true;
  return NetworkPortName(other);
}

std::string NetworkLine::SilentServerHint() const {
  return " (a raw TCP port stays silent: then use " + Url(NetworkPort::Mode::Raw) +
         (port_.tls ? ")" : "; so does a port that expects TLS: " + TlsUrl() + ")");
}

OpenFailure NetworkLine::Gone() const {
  return gone_.kind != OpenFailure::Kind::None ? gone_ : InUseOrClosed();
}

OpenFailure NetworkLine::Interrupted(const std::string& during) const {
  return {OpenFailure::Kind::Interrupted, "interrupted " + during + " " + Where()};
}

bool NetworkLine::CheckRawServer(OpenFailure& failure) {
  const auto deadline = SteadyClock::now() + kRawGreetingWait;
  while (alive_ && !StopRequested() && SteadyClock::now() < deadline) {
    (void)Pump(OpenSlice(deadline));
  }
  if (LooksLikeTelnet(received_)) {
    failure = {OpenFailure::Kind::WrongMode,
               Where() + " speaks Telnet: it is an RFC 2217 port, so use " + Url(NetworkPort::Mode::Rfc2217)};
    return false;
  }
  if (ServerSaidInUse() || !alive_) {
    failure = InUseOrClosed();
    return false;
  }
  if (CutShortByStop(deadline)) {
    failure = Interrupted("while watching for the greeting of");
    return false;
  }
  return true;
}

bool NetworkLine::WaitForStep(const std::function<bool()>& done) {
  const auto deadline = SteadyClock::now() + kStepTimeout;
  while (!done() && alive_ && !sawRawData_ && !StopRequested() && SteadyClock::now() < deadline) {
    (void)Pump(OpenSlice(deadline));
  }
  return done();
}

bool NetworkLine::Negotiate(OpenFailure& failure) {
  using Kind = OpenFailure::Kind;
  // RFC 2217 servers speak first. Offering our options before they have spoken would put
  // Telnet bytes on the display's line if this is a raw port after all.
  const bool serverSpoke = WaitForStep([this] { return serverSpoke_; });
  const OpenFailure interrupted = Interrupted("during the Telnet negotiation with");
  if (sawRawData_) {
    failure = ServerSaidInUse()
                  ? InUseOrClosed()
                  : OpenFailure{Kind::WrongMode, Where() +
                                                     " answers without Telnet: it looks like a raw TCP "
                                                     "port, so use " +
                                                     Url(NetworkPort::Mode::Raw)};
    return false;
  }
  if (!serverSpoke) {
    // Silence is no proof of a raw port: a slow or busy server is silent too, and may answer
    // when asked again.
    // Closed before a single byte: what a port that expects TLS does with a client in clear.
    failure =
        !alive_ && !port_.tls
            ? OpenFailure{Kind::TlsExpected, Where() + " may expect TLS: " + TlsUrl() +
                                                 " (it closed the connection before any Telnet byte)"}
        : !alive_ ? OpenFailure{Kind::Lost, Where() + " closed the connection during the Telnet negotiation"}
        : StopRequested() ? interrupted
                          : OpenFailure{Kind::NoAnswer, "no Telnet negotiation from " + Where() + " within " +
                                                            SecondsText(kStepTimeout) + SilentServerHint()};
    return false;
  }
  std::string offer;
  for (const auto& [verb, option] : kOurOffer) {
    if (said_.insert({verb, option}).second) { // not yet said in answer to the server
      offer += telnet::OptionCommand(verb, option);
    }
  }
  if (!offer.empty() && !stream_->SendAll(offer, SteadyClock::now() + kStepTimeout)) {
    failure = {Kind::Lost, "cannot send WILL COM-PORT-OPTION to " + Where()};
    return false;
  }
  const bool comPortAnswered = WaitForStep([this] { return comPortAccepted_ || comPortRefused_; });
  if (sawRawData_) {
    failure = ServerSaidInUse()
                  ? InUseOrClosed()
                  : OpenFailure{Kind::WrongMode, Where() + " sent data during the Telnet negotiation"};
    return false;
  }
  if (!comPortAnswered) {
    failure =
        !alive_ ? OpenFailure{Kind::Lost, Where() + " closed the connection during the Telnet negotiation"}
        : StopRequested()
            ? interrupted
            : OpenFailure{Kind::NoAnswer, "no answer to WILL COM-PORT-OPTION from " + Where() + " within " +
                                              SecondsText(kStepTimeout) + SilentServerHint()};
    return false;
  }
  if (comPortRefused_) {
    failure = {Kind::Unsupported,
               Where() + " refuses COM-PORT-OPTION (RFC 2217): it cannot take the line settings"};
    return false;
  }
  const bool binaryAnswered =
      WaitForStep([this] { return (binaryToServer_ && binaryFromServer_) || binaryRefused_; });
  if (!binaryAnswered && StopRequested()) {
    failure = interrupted;
    return false;
  }
  if (!binaryAnswered || binaryRefused_) {
    failure = {Kind::Unsupported, Where() + " does not agree to BINARY both ways, which the display's bytes "
                                            "need (0x0D would lose the 0x00 after it)"};
    return false;
  }
  // A server whose port is taken may still negotiate, then say so and close.
  (void)Pump(SteadyClock::now() + kAfterNegotiationWait);
  if (ServerSaidInUse() || !alive_) {
    failure = InUseOrClosed();
    return false;
  }
  return true;
}

bool NetworkLine::ServerSaidInUse() const { return received_.starts_with(kInUseText); }

OpenFailure NetworkLine::InUseOrClosed() const {
  if (ServerSaidInUse()) {
    return {OpenFailure::Kind::InUse,
            Where() + " is in use by another client (the server said \"" + std::string(kInUseText) + "\")"};
  }
  return {OpenFailure::Kind::Lost, Where() + " closed the connection"};
}

bool NetworkLine::ApplyLineSettings(std::uint32_t baudRate, std::string& note) {
  if (port_.mode == NetworkPort::Mode::Raw) {
    note = "tcp:// carries no line settings: the device server's own apply, not " + std::to_string(baudRate) +
           " bit/s; and pauses count from the server's system, so a stalled server can bunch pages "
           "(rfc2217:// keeps them)";
    return true;
  }
  baudAnswer_.reset();
  stepFailure_ = {};
  const std::string settings = rfc2217::DisplayLineSettings(baudRate);
  const auto deadline = SteadyClock::now() + kStepTimeout;
  if (!stream_->SendAll(settings, deadline)) {
    alive_ = false;
    note = "cannot send SET-BAUDRATE to " + Where();
    stepFailure_ = {OpenFailure::Kind::Lost, note};
    return false;
  }
  // A step of the open: it gives up at the first request to stop.
  while (!baudAnswer_ && alive_ && !StopRequested() && SteadyClock::now() < deadline) {
    (void)Pump(OpenSlice(deadline));
  }
  if (!baudAnswer_) {
    if (!alive_) {
      stepFailure_ = Gone();
    } else if (StopRequested()) {
      stepFailure_ = Interrupted("while setting the line of");
    } else {
      stepFailure_ = {OpenFailure::Kind::NoAnswer,
                      "no answer to SET-BAUDRATE from " + Where() + " within " + SecondsText(kStepTimeout)};
      alive_ = false; // as after a drain without an answer: nothing more is waited for from it
      gone_ = stepFailure_;
    }
    note = stepFailure_.detail;
    return false;
  }
  if (*baudAnswer_ != baudRate) {
    note = Where() + " holds " + std::to_string(*baudAnswer_) + " bit/s, not " + std::to_string(baudRate) +
           " as asked";
  }
  return true;
}

std::uint32_t NetworkLine::Write(std::string_view bytes, SteadyClock::time_point deadline) {
  const auto start = SteadyClock::now();
  stepFailure_ = {};
  (void)Pump(SteadyClock::now()); // a FLOWCONTROL-SUSPEND may be waiting unread
  while (flowSuspended_ && alive_ && Before(deadline)) {
    (void)Pump(NextWaitSlice(deadline)); // the server asked for a pause in sending
  }
  const std::string wire =
      port_.mode == NetworkPort::Mode::Rfc2217 ? telnet::EscapeData(bytes) : std::string(bytes);
  bool sent = alive_ && !flowSuspended_; // gone, or still held back by the server at the deadline
  if (sent && !stream_->SendAll(wire, deadline)) {
    alive_ = !Before(deadline); // failing before the deadline, the connection is gone
    sent = false;
  }
  if (!sent) {
    stepFailure_ =
        !alive_ ? Gone()
        : CutShortByStop(deadline)
            ? Interrupted("while sending to")
            : OpenFailure{OpenFailure::Kind::NoAnswer,
                          Where() + " did not take the bytes within " + WaitedText(start, deadline)};
    return 0;
  }
  return static_cast<std::uint32_t>(bytes.size());
}

bool NetworkLine::Drain(SteadyClock::time_point deadline) {
  stepFailure_ = {};
  if (!alive_) {
    stepFailure_ = Gone();
    return false;
  }
  const auto start = SteadyClock::now();
  if (unanswered_) {
    deadline = std::min(deadline, start + kAfterUnansweredWait);
  }
  const bool drained = ServerTookEverything(deadline);
  if (drained) {
    unanswered_ = false;
    return true;
  }
  if (!alive_) {
    stepFailure_ = Gone();
  } else if (CutShortByStop(deadline)) {
    stepFailure_ = Interrupted("while waiting for an acknowledgement from");
  } else {
    stepFailure_ = {OpenFailure::Kind::NoAnswer,
                    (flowSuspended_ ? Where() + " held the bytes back for "
                                    : "no acknowledgement from " + Where() + " within ") +
                        WaitedText(start, deadline)};
    // A server that no longer acknowledges counts as gone, so what follows fails at once
    // instead of waiting out a step each; held back by flow control, it does not, but is not
    // waited for a second full step.
    alive_ = flowSuspended_;
    unanswered_ = true;
    if (!alive_) {
      gone_ = stepFailure_;
    }
  }
  return false;
}

bool NetworkLine::ServerTookEverything(SteadyClock::time_point deadline) {
  if (port_.mode == NetworkPort::Mode::Raw) {
    return stream_->WaitAcknowledged(deadline);
  }
  // The server answers commands in the order of the stream: once it has answered a query of
  // the rate, it has taken every byte sent before it. This holds on every system, also where
  // the socket cannot tell what the peer has acknowledged.
  baudAnswer_.reset();
  if (!stream_->SendAll(rfc2217::SetBaudRate(0), deadline)) {
    return false;
  }
  while (!baudAnswer_ && Pump(NextWaitSlice(deadline)) && Before(deadline)) {
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
  (void)Drain(SteadyClock::now() + kStepTimeout); // a short bound after an unanswered one
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
    serverSpoke_ = serverSpoke_ || !commands.empty();
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
    overflowed_ = true;
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
    if (option == kComPortOption) {
      TakeServerNotice(rfc2217::ReadServerPayload(command.payload));
    }
    break;
  default:
    break;
  }
}

void NetworkLine::TakeServerNotice(const rfc2217::ServerNotice& notice) {
  using Kind = rfc2217::ServerNotice::Kind;
  switch (notice.kind) {
  case Kind::BaudRate:
    baudAnswer_ = notice.baudRate;
    break;
  case Kind::SuspendFlow:
    flowSuspended_ = true;
    break;
  case Kind::ResumeFlow:
    flowSuspended_ = false;
    break;
  case Kind::Other:
    break;
  }
}

} // namespace kv58
