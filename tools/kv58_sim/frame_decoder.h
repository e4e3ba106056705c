#pragma once
// Turns the bytes the display receives back into command frames and text uploads.
// No I/O and no clock of its own: the caller feeds each chunk with its arrival time and
// collects the events. Every byte ends up in exactly one event; none is silently lost.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kv58_sim/sim_event.h"

namespace kv58::sim {

struct DecoderLimits {
  // Silence after which a command frame still waiting for its code or parameter is given up.
  Millis frameTimeoutMs = 500;
  // Silence after which an upload still waiting for its 0x00 is given up. The program pauses
  // a second after every page, so this has to be well above that.
  Millis uploadTimeoutMs = 5000;
  // A pause longer than this between upload bytes starts a new page.
  Millis pageGapMs = 200;
  // Bytes kept of one upload's text or one undecoded run; beyond it they are only counted.
  std::size_t maxKeptBytes = 4096;
};

class FrameDecoder {
public:
  explicit FrameDecoder(DecoderLimits limits = {});

  // Decodes a chunk that arrived at nowMs. A frame left pending by a silence longer than its
  // time-out is given up first, so new bytes never complete a stale frame.
  void Feed(std::string_view bytes, Millis nowMs);
  // Gives up a pending frame whose time-out has passed by nowMs.
  void Expire(Millis nowMs);
  // Reports whatever is pending as it stands, as when the simulator ends.
  void Flush();
  // The port closed: whatever is pending is reported as it stands, then the hang-up.
  void Hangup(Millis nowMs);
  // A client's connection to the device server closed, which the display never sees: its line
  // stays as it was. An open text stays open (said by a ClosedMidText event) and takes the next
  // client's bytes; a frame still waits for its time-out. Only a run of stray bytes is reported
  // now, as the run before the hang-up. Then the hang-up.
  void ConnectionClosed(Millis nowMs);

  // When Expire next has something to do; none while nothing is pending.
  [[nodiscard]] std::optional<Millis> Deadline() const;
  [[nodiscard]] bool HasEvents() const { return !events_.empty(); }
  [[nodiscard]] std::vector<SimEvent> TakeEvents();

private:
  enum class State { Idle, AwaitCode, AwaitParameter, InUpload };

  void TakeByte(std::uint8_t byte, Millis nowMs);
  void TakeIdleByte(std::uint8_t byte, Millis nowMs);
  void TakeCode(std::uint8_t code, Millis nowMs);
  void TakeUploadByte(std::uint8_t byte, Millis nowMs);
  void StartFrame(Millis nowMs);
  void EmitCommand(EventKind kind, std::uint8_t value);
  void EmitUndecoded(std::string bytes, std::size_t count, UndecodedReason reason, Millis timeMs);
  void FlushStray();
  void FlushFrame(UndecodedReason reason);
  void FinishUpload(Millis nowMs);

  DecoderLimits limits_;
  std::vector<SimEvent> events_;

  State state_ = State::Idle;
  Millis frameStartMs_ = 0;
  std::uint8_t code_ = 0;
  SimEvent upload_; // the text being received while InUpload

  // Bytes outside any frame, kept until a marker, a silence or the cap ends the run.
  std::string stray_;
  Millis strayStartMs_ = 0;

  Millis lastByteMs_ = 0;
};

} // namespace kv58::sim
