#include "tools/kv58/device_steps.h"

namespace kv58::cli {
namespace {

Frame SingleFrame(TDeviceCommand code, std::int32_t value = 0) {
  return Frame{code, ParameterByte(value), 0};
}

} // namespace

std::vector<Frame> FramesOf(const Step& step) {
  switch (step.kind) {
  case Step::Kind::Speed:
    return {SingleFrame(TDeviceCommand::dcSpeed, step.value)};
  case Step::Kind::Lines:
    return LinesFrames(step.value, step.lastLine);
  case Step::Kind::Scroll:
    return ScrollTypeFrames(ParameterByte(step.value));
  case Step::Kind::Store:
    return {SingleFrame(TDeviceCommand::dcStore)};
  case Step::Kind::Reset:
    return {SingleFrame(TDeviceCommand::dcReset)};
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
    return "scroll " + std::string(ScrollTypeName(step.value));
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
