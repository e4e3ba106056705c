#include "tools/kv58/device_steps.h"

namespace kv58::cli {
namespace {

constexpr std::uint8_t kBottomLine = 22;

Frame FrameOf(TDeviceCommand code, std::int32_t value = 0, std::uint32_t pauseAfterMs = 0) {
  Frame frame;
  frame.code = code;
  frame.parameter = ParameterByte(value);
  frame.pauseAfterMs = pauseAfterMs;
  return frame;
}

// The device holds first <= last at every moment: the last line goes to the bottom first,
// so that any first line fits, then the first line, then the last line where it belongs.
std::vector<Frame> LinesFrames(std::int32_t first, std::int32_t last) {
  std::vector<Frame> frames{FrameOf(TDeviceCommand::dcLastLine, kBottomLine),
                            FrameOf(TDeviceCommand::dcFirstLine, first)};
  if (last != kBottomLine) {
    frames.push_back(FrameOf(TDeviceCommand::dcLastLine, last));
  }
  return frames;
}

} // namespace

std::vector<Frame> FramesOf(const Step& step) {
  switch (step.kind) {
  case Step::Kind::Speed:
    return {FrameOf(TDeviceCommand::dcSpeed, step.value)};
  case Step::Kind::Lines:
    return LinesFrames(step.value, step.lastLine);
  case Step::Kind::Scroll:
    // The display takes a new kind of scroll only after a reset, and needs a moment between.
    return {FrameOf(TDeviceCommand::dcScrollType, step.value, kScrollTypeResetPauseMs),
            FrameOf(TDeviceCommand::dcReset)};
  case Step::Kind::Store:
    return {FrameOf(TDeviceCommand::dcStore)};
  case Step::Kind::Reset:
    return {FrameOf(TDeviceCommand::dcReset)};
  case Step::Kind::Send:
  case Step::Kind::Monitor:
    break;
  }
  return {};
}

std::string DescribeStep(const Step& step) {
  switch (step.kind) {
  case Step::Kind::Speed:
    return "speed " + std::to_string(step.value);
  case Step::Kind::Lines:
    return "lines " + std::to_string(step.value) + " to " + std::to_string(step.lastLine);
  case Step::Kind::Scroll:
    return "scroll " + std::string(ScrollName(step.value));
  case Step::Kind::Store:
    return "store";
  case Step::Kind::Reset:
    return "reset";
  case Step::Kind::Send:
    return "text from " + (step.file == "-" ? std::string("standard input") : step.file);
  case Step::Kind::Monitor:
    return "monitor";
  }
  return {};
}

} // namespace kv58::cli
