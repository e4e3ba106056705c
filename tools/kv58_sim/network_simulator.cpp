#include "tools/kv58_sim/network_simulator.h"

#include <algorithm>
#include <utility>

#include "tools/common/json_line.h"
#include "tools/kv58_sim/event_format.h"
#include "tools/kv58_sim/push_file.h"
#include "tools/kv58_sim/sim_output.h"

namespace kv58::sim {
namespace {

// Reads per round while a client keeps sending, so signals and other clients are still seen.
constexpr int kReadsPerRound = 16;
// A round serves addresses until this much time has gone, then looks at signals again; the
// next round goes on with the next address.
constexpr Millis kLongestRoundMs = 100;
// After an ending signal, what clients sent before it is read and shown for at most this long.
constexpr Millis kLongestDrainMs = 200;
// Connections taken from one listener per round: a crowd of second clients waits its turn.
constexpr int kAcceptsPerRound = 16;
// A listener whose accept failed (out of open files, say) is left alone this long.
constexpr Millis kAcceptPauseMs = 250;
// What waits for a client is bounded: beyond it replies are dropped, and a client's bytes are
// left unread until it takes the answers to its Telnet commands.
constexpr std::size_t kMostQueuedBytes = std::size_t{64} * 1024;
constexpr Millis kLongestPollMs = 60'000;
// What a busy device server tells a second client before closing its connection.
constexpr std::string_view kInUse = "Port already in use\r\n";

// The line with the address in front of the event, for a run with several addresses.
std::string Tagged(const std::string& line, const std::string& url, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return "{\"listen\":\"" + JsonEscape(url, HighBytes::AsText) + "\"," + line.substr(1);
  }
  const std::size_t afterTime = line.starts_with('[') ? line.find("] ") : std::string::npos;
  return afterTime == std::string::npos
             ? line
             : line.substr(0, afterTime + 2) + url + " " + line.substr(afterTime + 2);
}

// What a person watching the console does next, after the addresses: three lines that fit
// a console of 80 columns.
std::string ConnectHint(const std::string& firstUrl, std::size_t addresses) {
  const std::string which = addresses == 1 ? firstUrl : "one of these addresses";
  return "In the controller, type " + which + " into the PORT box\n" +
         "and tick the connect box; what arrives shows here.\n" + "(kv58: --port " + firstUrl +
         ")  Ctrl+C ends the simulator.";
}

// The bytes received that an event stands for, as a flood's summary counts them.
std::size_t ReceivedBytes(const SimEvent& event) {
  switch (event.kind) {
  case EventKind::Text:
    return event.byteCount + 3;
  case EventKind::Undecoded:
    return event.byteCount;
  case EventKind::Store:
  case EventKind::Reset:
    return 2;
  case EventKind::Open:
  case EventKind::Hangup:
  case EventKind::ClosedMidText:
    return 0;
  case EventKind::Speed:
  case EventKind::FirstLine:
  case EventKind::LastLine:
  case EventKind::ScrollType:
    break;
  }
  return 3;
}

// What the connection itself did: said whatever the budget holds.
bool IsConnectionEvent(EventKind kind) {
  return kind == EventKind::Open || kind == EventKind::Hangup || kind == EventKind::ClosedMidText;
}

} // namespace

struct NetworkSimulator::Station {
  Station(ListenAddress wanted, DecoderLimits limits) : address(std::move(wanted)), decoder(limits) {}

  [[nodiscard]] bool Telnet() const { return address.mode == ListenAddress::Mode::Rfc2217; }

  ListenAddress address;
  std::string url; // as printed, with the port in use
  TcpListener listener;
  FrameDecoder decoder;

  Socket client;
  std::unique_ptr<Rfc2217Server> telnet; // for the client connected over RFC 2217
  bool seenFirstClient = false;
  std::string pushBytes;           // until pushed at the first client
  std::optional<Millis> pushDueMs; // set by the first client's arrival
  std::string forClient;           // the display's bytes, held while the client suspends them
  std::string toClient;            // as they go on the wire, Telnet answers among them
  bool warnedAboutFullQueue = false;
  OutputBudget budget;
  std::optional<Millis> acceptPausedUntilMs; // after a failed accept
  bool acceptFailing = false;                // said once until a client is taken again
};

NetworkSimulator::NetworkSimulator(SimOptions options, int outputFd, int errorFd)
    : options_(std::move(options)), output_(outputFd, errorFd) {}

NetworkSimulator::~NetworkSimulator() = default;

int NetworkSimulator::Run() {
  if (!Start()) {
    return 1;
  }
  while (!endReason_ && !output_.Failed()) {
    RunRound();
  }
  if (output_.Failed()) {
    return 1;
  }
  Print(nullptr, FormatExit(*endReason_, output_.Now(), options_.format));
  return 0;
}

bool NetworkSimulator::Start() {
  std::string error;
  if (options_.sendFile && !LoadPushFile(*options_.sendFile, pushBytes_, error)) {
    output_.Complain(error);
    return false;
  }
  pushBytes_ += options_.sendBytes;
  if (!signals_.Install(error)) {
    output_.Complain(error);
    return false;
  }
  // Each address holds its listener and a client, and one more socket turns a second away.
  if (!MakeRoomForSockets(2 * options_.listen.size() + 1, error)) {
    output_.Complain("cannot listen on " + std::to_string(options_.listen.size()) + " addresses: " + error);
    return false;
  }
  for (const ListenAddress& address : options_.listen) {
    auto station = std::make_unique<Station>(address, options_.limits);
    if (!station->listener.Open(address, error)) {
      output_.Complain(error);
      return false;
    }
    station->url = NetworkPortName(station->listener.Bound());
    station->pushBytes = pushBytes_;
    stations_.push_back(std::move(station));
  }
  for (const auto& station : stations_) {
    Print(nullptr, FormatListening(station->url, options_.format));
  }
  WarnIfReachable();
  if (options_.format == OutputFormat::Text && output_.IsTerminal()) {
    Print(nullptr, ConnectHint(stations_.front()->url, stations_.size()));
  }
  return !output_.Failed();
}

void NetworkSimulator::WarnIfReachable() const {
  for (const auto& station : stations_) {
    if (!station->listener.Loopback()) {
      output_.Complain("warning: " + station->url +
                       " is open to other computers: anyone who can reach it can drive the display "
                       "(no password, no encryption)");
    }
  }
}

void NetworkSimulator::RunRound() {
  const Millis now = output_.Now();
  std::vector<SocketWatch> watched{{.handle = signals_.WakeHandle(), .read = true}};
  for (const auto& station : stations_) {
    if (station->acceptPausedUntilMs && *station->acceptPausedUntilMs <= now) {
      station->acceptPausedUntilMs.reset();
    }
    watched.push_back(
        {.handle = station->acceptPausedUntilMs ? kNoSocket : station->listener.Handle(), .read = true});
    watched.push_back({.handle = station->client.IsOpen() ? station->client.Handle() : kNoSocket,
                       .read = station->toClient.size() < kMostQueuedBytes,
                       .write = !station->toClient.empty()});
  }
  if (std::string error; !WaitForSockets(watched, PollTimeout(), error)) {
    output_.Complain(error);
    output_.Fail();
    return;
  }
  if (const int signal = signals_.Take(); signal != 0) {
    End(signal);
    return;
  }
  const Millis roundEnds = output_.Now() + kLongestRoundMs;
  for (std::size_t served = 0; served < stations_.size() && !endReason_; ++served) {
    const std::size_t i = (firstServed_ + served) % stations_.size();
    ServeStation(*stations_[i], watched[2 + 2 * i].ready, watched[1 + 2 * i].ready);
    if (output_.Now() >= roundEnds) {
      firstServed_ = (i + 1) % stations_.size();
      return;
    }
  }
}

void NetworkSimulator::ServeStation(Station& station, bool clientReady, bool listenerReady) {
  if (clientReady && station.client.IsOpen()) {
    (void)ReadFromClient(station);
    FlushToClient(station);
  }
  if (listenerReady) {
    TakeClients(station);
  }
  station.decoder.Expire(output_.Now());
  PrintEvents(station);
  PushWhenDue(station);
}

// What each client sent before the signal is shown, as far as a short while allows: a client
// that keeps sending holds up the end no longer.
void NetworkSimulator::End(int signal) {
  endReason_ = SignalName(signal);
  const Millis drainEnds = output_.Now() + kLongestDrainMs;
  for (const auto& station : stations_) {
    while (station->client.IsOpen() && output_.Now() < drainEnds && ReadFromClient(*station)) {
    }
    station->decoder.Flush();
    PrintEvents(*station);
    SayHeldBack(*station);
  }
}

int NetworkSimulator::PollTimeout() const {
  const Millis now = output_.Now();
  std::optional<Millis> wake;
  const auto wakeBy = [&wake](std::optional<Millis> at) {
    if (at) {
      wake = wake ? std::min(*wake, *at) : *at;
    }
  };
  for (const auto& station : stations_) {
    wakeBy(station->decoder.Deadline());
    wakeBy(station->acceptPausedUntilMs);
    if (station->client.IsOpen()) {
      wakeBy(station->pushDueMs);
    }
  }
  if (!wake) {
    return -1;
  }
  return static_cast<int>(std::clamp<Millis>(*wake - now, 0, kLongestPollMs));
}

void NetworkSimulator::TakeClients(Station& station) {
  for (int taken = 0; taken < kAcceptsPerRound; ++taken) {
    std::string error;
    Socket client = station.listener.Accept(error);
    if (!client.IsOpen()) {
      if (!error.empty()) {
        station.acceptPausedUntilMs = output_.Now() + kAcceptPauseMs;
        if (!station.acceptFailing) {
          output_.Complain(error + "; trying again every " + std::to_string(kAcceptPauseMs) + " ms");
        }
        station.acceptFailing = true;
      }
      return;
    }
    station.acceptFailing = false;
    if (!station.client.IsOpen()) {
      Connect(station, std::move(client));
      continue;
    }
    (void)client.WriteSome(kInUse);
    output_.Complain("a second client on " + station.url +
                     " was turned away: the display takes one at a time");
  }
}

void NetworkSimulator::Connect(Station& station, Socket client) {
  station.client = std::move(client);
  SimEvent open;
  open.kind = EventKind::Open;
  open.timeMs = output_.Now();
  Print(&station, FormatEvent(open, options_.format));
  if (station.Telnet()) {
    station.telnet = std::make_unique<Rfc2217Server>();
    station.toClient = station.telnet->Greeting();
  }
  if (!station.seenFirstClient && !station.pushBytes.empty()) {
    station.pushDueMs = open.timeMs + options_.sendDelayMs;
  }
  station.seenFirstClient = true;
  FlushToClient(station);
}

bool NetworkSimulator::ReadFromClient(Station& station) {
  for (int reads = 0; station.client.IsOpen() && reads < kReadsPerRound; ++reads) {
    std::string chunk;
    switch (station.client.ReadChunk(chunk)) {
    case Socket::ReadOutcome::Data:
      TakeBytes(station, chunk);
      break;
    case Socket::ReadOutcome::Empty:
      return false;
    case Socket::ReadOutcome::Lost:
      output_.Complain("the client on " + station.url + " stopped answering; its connection is dropped");
      Hangup(station);
      return false;
    case Socket::ReadOutcome::Closed:
      Hangup(station);
      return false;
    }
    if (station.toClient.size() >= kMostQueuedBytes) {
      return false; // the client reads its answers first
    }
  }
  return station.client.IsOpen();
}

void NetworkSimulator::TakeBytes(Station& station, std::string_view bytes) {
  std::string data;
  if (station.telnet) {
    std::string answers;
    station.telnet->Feed(bytes, data, answers);
    station.toClient += answers;
    if (const std::optional<SerialLine> line = station.telnet->TakeLineSettings();
        line && Admit(station, 0)) {
      PrintSpending(station, FormatSerialLine(*line, output_.Now(), options_.format));
    }
  } else {
    data.assign(bytes);
  }
  if (!data.empty()) {
    station.decoder.Feed(data, output_.Now());
    PrintEvents(station);
  }
}

void NetworkSimulator::Hangup(Station& station) {
  station.client.Close();
  station.telnet.reset();
  DiscardUndelivered(station, "the program closed the connection");
  station.decoder.ConnectionClosed(output_.Now());
  PrintEvents(station);
  if (options_.exitOnHangup) {
    endReason_ = "hangup";
  }
}

void NetworkSimulator::PrintEvents(Station& station) {
  for (const SimEvent& event : station.decoder.TakeEvents()) {
    if (IsConnectionEvent(event.kind)) {
      SayHeldBack(station);
      Print(&station, FormatEvent(event, options_.format));
    } else if (Admit(station, ReceivedBytes(event))) {
      PrintSpending(station, FormatEvent(event, options_.format));
    }
    if (IsDecodedFrame(event.kind)) {
      QueueReply(station);
    }
  }
}

bool NetworkSimulator::Admit(Station& station, std::size_t receivedBytes) {
  if (!station.budget.Admit(output_.Now(), receivedBytes)) {
    return false;
  }
  SayHeldBack(station);
  return true;
}

void NetworkSimulator::PrintSpending(Station& station, const std::string& line) {
  station.budget.Spend(line.size() + 1);
  Print(&station, line);
}

void NetworkSimulator::SayHeldBack(Station& station) {
  const OutputBudget::HeldBack held = station.budget.TakeHeldBack();
  if (held.lines != 0) {
    PrintSpending(station, FormatNotShown(held.lines, held.bytes, output_.Now(), options_.format));
  }
}

void NetworkSimulator::QueueReply(Station& station) {
  if (options_.reply.empty() || !station.client.IsOpen()) {
    return;
  }
  if (station.forClient.size() + station.toClient.size() + options_.reply.size() > kMostQueuedBytes) {
    if (!station.warnedAboutFullQueue) {
      output_.Complain("the program on " + station.url +
                       " is not reading what the display sends; further replies are dropped");
      station.warnedAboutFullQueue = true;
    }
    return;
  }
  station.forClient += options_.reply;
  FlushToClient(station);
}

void NetworkSimulator::PushWhenDue(Station& station) {
  if (!station.pushDueMs || !station.client.IsOpen() || output_.Now() < *station.pushDueMs) {
    return;
  }
  station.forClient += std::exchange(station.pushBytes, {});
  station.pushDueMs.reset();
  FlushToClient(station);
}

void NetworkSimulator::FlushToClient(Station& station) {
  if (!station.client.IsOpen()) {
    return;
  }
  if (!station.forClient.empty() && !(station.telnet && station.telnet->SendingSuspended())) {
    const std::string data = std::exchange(station.forClient, {});
    station.toClient += station.telnet ? Rfc2217Server::ToClient(data) : data;
  }
  if (station.toClient.empty()) {
    return;
  }
  const long written = station.client.WriteSome(station.toClient);
  if (written < 0) {
    Hangup(station);
    return;
  }
  station.toClient.erase(0, static_cast<std::size_t>(written));
  if (station.toClient.empty() && station.forClient.empty()) {
    station.warnedAboutFullQueue = false;
  }
}

void NetworkSimulator::DiscardUndelivered(Station& station, std::string_view why) {
  const std::size_t undelivered = station.forClient.size() + station.toClient.size();
  station.forClient.clear();
  station.toClient.clear();
  if (undelivered != 0) {
    output_.Complain(std::to_string(undelivered) + " bytes for the program on " + station.url +
                     " were not delivered: " + std::string(why));
  }
}

void NetworkSimulator::Print(const Station* station, const std::string& line) {
  const bool tag = station != nullptr && stations_.size() > 1;
  output_.Print(tag ? Tagged(line, station->url, options_.format) : line);
}

} // namespace kv58::sim
