#pragma once
// The simulator behind a device server's address instead of a pseudo-terminal (--listen):
// each address stands for one display, taking one client at a time, over RFC 2217 or as raw
// bytes. A client's connection is the port being open: its bytes are decoded into the same
// lines, answered and pushed at as on the terminal, and its close is the hang-up. A second
// client while one is connected is told the port is in use and closed, as a busy device
// server does.
// The display sits behind the server on a serial line that never closes: its decoder, and a
// text left open by a client that went away, survive from one client to the next. What one
// address prints is held to a rate (OutputBudget), every round of the loop to a bounded
// time, so a flooding client is summed up and a signal is seen within a second.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kv58_sim/end_signals.h"
#include "tools/kv58_sim/frame_decoder.h"
#include "tools/kv58_sim/rfc2217_server.h"
#include "tools/kv58_sim/sim_options.h"
#include "tools/kv58_sim/sim_output.h"
#include "tools/kv58_sim/tcp_listener.h"

namespace kv58::sim {

class NetworkSimulator {
public:
  // Events go to outputFd, complaints to errorFd.
  NetworkSimulator(SimOptions options, int outputFd, int errorFd);
  ~NetworkSimulator();
  NetworkSimulator(const NetworkSimulator&) = delete;
  NetworkSimulator& operator=(const NetworkSimulator&) = delete;

  // Runs to the end. The exit status: 0 after a signal or a hang-up, 1 when it could not run.
  [[nodiscard]] int Run();

private:
  struct Station; // one address: its listener, its client and its display's decoder

  [[nodiscard]] bool Start();
  void RunRound();
  void ServeStation(Station& station, bool clientReady, bool listenerReady);
  void End(int signal);
  [[nodiscard]] int PollTimeout() const;
  void TakeClients(Station& station);
  void Connect(Station& station, Socket client);
  // Reads a bounded number of chunks; true when the client may have sent more.
  [[nodiscard]] bool ReadFromClient(Station& station);
  void TakeBytes(Station& station, std::string_view bytes);
  void Hangup(Station& station);
  void PrintEvents(Station& station);
  // Whether the station's budget has room for a line that stands for receivedBytes; when it
  // has, what was held back before is said first.
  [[nodiscard]] bool Admit(Station& station, std::size_t receivedBytes);
  void PrintSpending(Station& station, const std::string& line);
  void SayHeldBack(Station& station);
  void WarnIfReachable() const;
  void QueueReply(Station& station);
  void PushWhenDue(Station& station);
  void FlushToClient(Station& station);
  void DiscardUndelivered(Station& station, std::string_view why);
  void Print(const Station* station, const std::string& line);

  SimOptions options_;
  SimOutput output_;
  EndSignals signals_;
  std::vector<std::unique_ptr<Station>> stations_;
  std::size_t firstServed_ = 0; // where the next round starts, after a round cut short
  std::string pushBytes_;       // --send-file and --send-hex, for each address's first client
  std::optional<std::string> endReason_;
};

} // namespace kv58::sim
