#pragma once
// One run of the simulator: the pseudo-terminal the program opens, the link that names it
// in the port map directory, and the loop that decodes what arrives, prints one line per
// event, answers, and ends on a signal (or on the program's hang-up when asked to), with
// the link taken away on every way out.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "tools/kv58_sim/end_signals.h"
#include "tools/kv58_sim/frame_decoder.h"
#include "tools/kv58_sim/port_link.h"
#include "tools/kv58_sim/pseudo_terminal.h"
#include "tools/kv58_sim/sim_options.h"
#include "tools/kv58_sim/sim_output.h"

namespace kv58::sim {

class Simulator {
public:
  // Events go to outputFd, complaints to errorFd.
  Simulator(SimOptions options, int outputFd, int errorFd);

  // Runs to the end. The exit status: 0 after a signal or a hang-up, 1 when it could not run.
  [[nodiscard]] int Run();

private:
  [[nodiscard]] bool Start();
  [[nodiscard]] bool LoadPushBytes();
  [[nodiscard]] bool MakeLink();
  void RunRound();
  [[nodiscard]] int PollTimeout() const;
  void ServiceLine();
  void ReadFromProgram(bool untilEmpty);
  void ReportWhatIsLeft();
  void MarkOpen();
  void OnHangup();
  void PrintEvents();
  void QueueReply();
  void PushWhenDue();
  void FlushToProgram();
  void DiscardUndelivered(std::string_view why);
  void Print(const std::string& line);

  SimOptions options_;
  SimOutput output_;

  FrameDecoder decoder_;
  PseudoTerminal pty_;
  PortLink link_;
  EndSignals signals_;

  bool connected_ = false;
  bool seenFirstOpen_ = false;
  std::string pushBytes_;           // --send-file and --send-hex, until pushed
  std::optional<Millis> pushDueMs_; // set by the first open
  std::string toProgram_;           // written to the master as it takes them
  bool warnedAboutFullQueue_ = false;
  std::optional<std::string> endReason_;
};

} // namespace kv58::sim
