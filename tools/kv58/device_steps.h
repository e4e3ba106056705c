#pragma once
// What each settings command puts on the line: the device's own frame sequences, as the
// window sends them for its controls.

#include <string>
#include <vector>

#include "protocol/frame_sequence.h"
#include "tools/kv58/command_line.h"

namespace kv58::cli {

// The frames of a speed, lines, scroll, store or reset step; none for send and monitor.
[[nodiscard]] std::vector<Frame> FramesOf(const Step& step);

// The step in a few words, for messages: "speed 4", "lines 3 to 9", "scroll horizontal".
[[nodiscard]] std::string DescribeStep(const Step& step);

} // namespace kv58::cli
