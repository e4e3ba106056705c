#pragma once
// The simulator behind a device server's address instead of a pseudo-terminal (--listen):
// each address stands for one display, taking one client at a time, over RFC 2217 or as raw
// bytes. A client's connection is the port being open: its bytes are decoded into the same
// lines, answered and pushed at as on the terminal, and its close is the hang-up. A second
// client while one is connected is told the port is in use and closed, as a busy device
// server does.

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
  [[nodiscard]] int PollTimeout() const;
  void TakeClients(Station& station);
  void Connect(Station& station, Socket client);
  void ReadFromClient(Station& station, bool untilEmpty);
  void TakeBytes(Station& station, std::string_view bytes);
  void Hangup(Station& station);
  void PrintEvents(Station& station);
  void QueueReply(Station& station);
  void PushWhenDue(Station& station);
  void FlushToClient(Station& station);
  void DiscardUndelivered(Station& station, std::string_view why);
  void Print(const Station* station, const std::string& line);

  SimOptions options_;
  SimOutput output_;
  EndSignals signals_;
  std::vector<std::unique_ptr<Station>> stations_;
  std::string pushBytes_; // --send-file and --send-hex, for each address's first client
  std::optional<std::string> endReason_;
};

} // namespace kv58::sim
