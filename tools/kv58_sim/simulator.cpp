#include "tools/kv58_sim/simulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

#include "serial/port_map.h"
#include "tools/kv58_sim/event_format.h"
#include "tools/kv58_sim/push_file.h"
#include "tools/kv58_sim/sim_output.h"

namespace kv58::sim {
namespace {

// How often to look whether a program opened the port; the master cannot wake us for it.
constexpr Millis kOpenCheckMs = 20;
// Reads per round while the program keeps sending, so signals are still seen.
constexpr int kReadsPerRound = 64;
// Replies stop piling up once the program has left this much unread.
constexpr std::size_t kMostQueuedReplyBytes = std::size_t{64} * 1024;
constexpr Millis kLongestPollMs = 60'000;

} // namespace

Simulator::Simulator(SimOptions options, int outputFd, int errorFd)
    : options_(std::move(options)), output_(outputFd, errorFd), decoder_(options_.limits) {}

int Simulator::Run() {
  if (!Start()) {
    return 1;
  }
  while (!endReason_ && !output_.Failed()) {
    RunRound();
  }
  link_.Remove();
  if (output_.Failed()) {
    return 1;
  }
  Print(FormatExit(*endReason_, output_.Now(), options_.format));
  return 0;
}

bool Simulator::Start() {
  std::string error;
  if (!LoadPushBytes()) {
    return false;
  }
  if (!signals_.Install(error) || !pty_.Open(error)) {
    output_.Complain(error);
    return false;
  }
  Print(FormatPty(pty_.SlavePath(), options_.format));
  return MakeLink() && !output_.Failed();
}

bool Simulator::LoadPushBytes() {
  if (options_.sendFile) {
    std::string error;
    if (!LoadPushFile(*options_.sendFile, pushBytes_, error)) {
      output_.Complain(error);
      return false;
    }
  }
  pushBytes_ += options_.sendBytes;
  return true;
}

bool Simulator::MakeLink() {
  if (!options_.linkName) {
    return true;
  }
  const std::optional<std::filesystem::path> directory = kv58::PortMapDirectoryFromEnvironment();
  if (!directory) {
    output_.Complain(
        "cannot find the port map directory: neither XDG_CONFIG_HOME nor HOME is an absolute path");
    return false;
  }
  std::string error;
  if (!link_.Create(*directory, *options_.linkName, pty_.SlavePath(), error)) {
    output_.Complain(error);
    return false;
  }
  Print(FormatLink(link_.Path().string(), pty_.SlavePath(), options_.format));
  return true;
}

void Simulator::RunRound() {
  const short masterEvents = static_cast<short>(POLLIN | (toProgram_.empty() ? 0 : POLLOUT));
  std::array<pollfd, 2> watched{
      {{signals_.WakeHandle(), POLLIN, 0}, {connected_ ? pty_.MasterFd() : -1, masterEvents, 0}}};
  if (poll(watched.data(), watched.size(), PollTimeout()) < 0 && errno != EINTR) {
    output_.Complain(std::string("poll failed: ") + std::strerror(errno));
    output_.Fail();
    return;
  }
  if (const int signal = signals_.Take(); signal != 0) {
    endReason_ = SignalName(signal);
    ReportWhatIsLeft();
    return;
  }
  ServiceLine();
  decoder_.Expire(output_.Now());
  PrintEvents();
  PushWhenDue();
}

int Simulator::PollTimeout() const {
  const Millis now = output_.Now();
  std::optional<Millis> wake = decoder_.Deadline();
  const auto wakeBy = [&wake](Millis at) { wake = wake ? std::min(*wake, at) : at; };
  if (!connected_) {
    wakeBy(now + kOpenCheckMs);
  }
  if (pushDueMs_ && connected_) {
    wakeBy(*pushDueMs_);
  }
  if (!wake) {
    return -1;
  }
  return static_cast<int>(std::clamp<Millis>(*wake - now, 0, kLongestPollMs));
}

void Simulator::ServiceLine() {
  const LineState state = pty_.Look();
  if (state.readable || state.peerOpen) {
    // Bytes waiting mean a program had the port open, even if it has already let go.
    MarkOpen();
  }
  if (state.readable) {
    ReadFromProgram(!state.peerOpen);
  }
  if (!state.peerOpen) {
    if (connected_) {
      OnHangup();
    }
    return;
  }
  if (state.writable) {
    FlushToProgram();
  }
}

void Simulator::ReadFromProgram(bool untilEmpty) {
  for (int reads = 0; untilEmpty || reads < kReadsPerRound; ++reads) {
    std::string chunk;
    switch (pty_.ReadChunk(chunk)) {
    case PseudoTerminal::ReadOutcome::Data:
      decoder_.Feed(chunk, output_.Now());
      PrintEvents();
      break;
    case PseudoTerminal::ReadOutcome::Empty:
    case PseudoTerminal::ReadOutcome::HungUp:
      return;
    case PseudoTerminal::ReadOutcome::Failed:
      output_.Complain("cannot read the pseudo-terminal: " + std::string(std::strerror(errno)));
      output_.Fail();
      return;
    }
  }
}

void Simulator::ReportWhatIsLeft() {
  if (pty_.Look().readable) {
    MarkOpen();
    ReadFromProgram(true);
  }
  decoder_.Flush();
  PrintEvents();
}

void Simulator::MarkOpen() {
  if (connected_) {
    return;
  }
  connected_ = true;
  SimEvent open;
  open.kind = EventKind::Open;
  open.timeMs = output_.Now();
  Print(FormatEvent(open, options_.format));
  if (!seenFirstOpen_ && !pushBytes_.empty()) {
    pushDueMs_ = open.timeMs + options_.sendDelayMs;
  }
  seenFirstOpen_ = true;
}

void Simulator::OnHangup() {
  connected_ = false;
  DiscardUndelivered("the program closed the port");
  // Reset before the hang-up is printed, so whoever waits for that line and reopens finds
  // the port ready; and not at all if a program has already opened it again.
  std::string error;
  if (!pty_.Look().peerOpen && !pty_.ResetSlave(error)) {
    output_.Complain(error);
  }
  decoder_.Hangup(output_.Now());
  PrintEvents();
  if (options_.exitOnHangup) {
    endReason_ = "hangup";
  }
}

void Simulator::PrintEvents() {
  for (const SimEvent& event : decoder_.TakeEvents()) {
    Print(FormatEvent(event, options_.format));
    if (IsDecodedFrame(event.kind)) {
      QueueReply();
    }
  }
}

void Simulator::QueueReply() {
  if (options_.reply.empty() || !connected_) {
    return;
  }
  if (toProgram_.size() + options_.reply.size() > kMostQueuedReplyBytes) {
    if (!warnedAboutFullQueue_) {
      output_.Complain("the program is not reading what the display sends; further replies are dropped");
      warnedAboutFullQueue_ = true;
    }
    return;
  }
  toProgram_ += options_.reply;
  FlushToProgram();
}

void Simulator::PushWhenDue() {
  if (!pushDueMs_ || !connected_ || output_.Now() < *pushDueMs_) {
    return;
  }
  toProgram_ += std::exchange(pushBytes_, {});
  pushDueMs_.reset();
  FlushToProgram();
}

void Simulator::FlushToProgram() {
  if (toProgram_.empty() || !connected_) {
    return;
  }
  const long written = pty_.WriteSome(toProgram_);
  if (written < 0) {
    DiscardUndelivered(std::string("cannot write to the pseudo-terminal: ") + std::strerror(errno));
    return;
  }
  toProgram_.erase(0, static_cast<std::size_t>(written));
  if (toProgram_.empty()) {
    warnedAboutFullQueue_ = false;
  }
}

void Simulator::DiscardUndelivered(std::string_view why) {
  if (toProgram_.empty()) {
    return;
  }
  output_.Complain(std::to_string(toProgram_.size()) +
                   " bytes for the program were not delivered: " + std::string(why));
  toProgram_.clear();
}

void Simulator::Print(const std::string& line) { output_.Print(line); }

} // namespace kv58::sim
