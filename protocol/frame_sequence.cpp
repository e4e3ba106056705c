#include "protocol/frame_sequence.h"

namespace kv58 {
namespace {

Frame FrameOf(TDeviceCommand code, std::int32_t value = 0, std::uint32_t pauseAfterMs = 0) {
  return Frame{code, ParameterByte(value), pauseAfterMs};
}

} // namespace

std::vector<Frame> ScrollTypeFrames(std::uint8_t type) {
  return {FrameOf(TDeviceCommand::dcScrollType, type, kScrollTypeResetPauseMs),
          FrameOf(TDeviceCommand::dcReset)};
}

std::vector<Frame> LinesFrames(std::int32_t first, std::int32_t last) {
  std::vector<Frame> frames{FrameOf(TDeviceCommand::dcLastLine, kBottomLine),
                            FrameOf(TDeviceCommand::dcFirstLine, first)};
  if (last != kBottomLine) {
    frames.push_back(FrameOf(TDeviceCommand::dcLastLine, last));
  }
  return frames;
}

bool SendFrames(TCOMSocket& port, std::span<const Frame> frames, const Pause& pause,
                const FrameObserver& observe) {
  bool everyFrameSent = true;
  for (const Frame& frame : frames) {
    const bool sent = SendCommand(port, frame.code, frame.parameter);
    everyFrameSent = everyFrameSent && sent;
    if (observe && !observe(frame, sent)) {
      return false;
    }
    if (frame.pauseAfterMs > 0) {
      // The pause counts from when the frame has left toward the display.
      (void)port.Drain();
      pause(frame.pauseAfterMs);
    }
  }
  return everyFrameSent;
}

bool SendScrollType(TCOMSocket& port, std::uint8_t type, const Pause& pause, const FrameObserver& observe) {
  return SendFrames(port, ScrollTypeFrames(type), pause, observe);
}

} // namespace kv58
