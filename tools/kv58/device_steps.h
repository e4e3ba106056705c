#pragma once
// What each settings command puts on the line: the frames of the window's controls, in the
// window's order, with the window's pauses after them.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/device_command.h"
#include "tools/kv58/command_line.h"

namespace kv58::cli {

struct Frame {
  TDeviceCommand code = TDeviceCommand::dcReset;
  std::uint8_t parameter = 0;
  std::uint32_t pauseAfterMs = 0;
};

// The frames of a speed, lines, scroll, store or reset step; none for send and monitor.
[[nodiscard]] std::vector<Frame> FramesOf(const Step& step);

// The step in a few words, for messages: "speed 4", "lines 3 to 9", "scroll horizontal".
[[nodiscard]] std::string DescribeStep(const Step& step);

} // namespace kv58::cli
