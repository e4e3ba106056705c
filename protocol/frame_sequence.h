#pragma once
// Settings that take more than one frame: a kind of scroll, which the display takes only after
// a reset and a moment's silence, and a pair of display lines, which must never cross on the
// way. Each frame is written whole, then shown to the caller, then followed by its pause.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "protocol/device_command.h"
#include "protocol/pause.h"
#include "serial/com_socket.h"

namespace kv58 {

struct Frame {
  TDeviceCommand code = TDeviceCommand::dcReset;
  std::uint8_t parameter = 0;
  std::uint32_t pauseAfterMs = 0;
};

// Told of each frame right after its write, with whether the port took all of it; false ends
// the sequence there, before the frame's pause.
using FrameObserver = std::function<bool(const Frame& frame, bool sent)>;

// The scroll type `type`, kScrollTypeResetPauseMs of silence, then the reset.
[[nodiscard]] std::vector<Frame> ScrollTypeFrames(std::uint8_t type);

// The display holds first <= last at every moment: the last line goes to the bottom first, so
// that any first line fits, then the first line, then the last line where it belongs.
[[nodiscard]] std::vector<Frame> LinesFrames(std::int32_t first, std::int32_t last);

// Writes the frames in order with their pauses. True when the port took every frame whole.
bool SendFrames(TCOMSocket& port, std::span<const Frame> frames, const Pause& pause,
                const FrameObserver& observe);

// SendFrames of ScrollTypeFrames.
bool SendScrollType(TCOMSocket& port, std::uint8_t type, const Pause& pause, const FrameObserver& observe);

} // namespace kv58
