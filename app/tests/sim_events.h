#pragma once
// The simulator's text lines as the window's end-to-end tests read them: "[   1234 ms] reset"
// is the event "reset", seen 1234 ms after the simulator started.

#include <cstddef>
#include <regex>
#include <string>
#include <vector>

#include "protocol/device_command.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::testing {

struct TimedEvent {
  long milliseconds = -1; // -1: a line without a time ("pty ...", "listening ...")
  std::string text;
};

// The simulator stamps events in whole milliseconds, so the device's pause between the scroll
// type and the reset can show as a millisecond shorter.
inline constexpr long kLeastScrollPauseSeen = long{kScrollTypeResetPauseMs} - 1;

inline TimedEvent ParseTimedEvent(const std::string& line) {
  static const std::regex timed(R"(^\[\s*(\d+) ms\] (.*)$)");
  std::smatch match;
  if (std::regex_match(line, match, timed)) {
    return {std::stol(match[1].str()), match[2].str()};
  }
  return {-1, line};
}

inline TimedEvent NextTimedEvent(sim::test_support::SimProcess& simulator) {
  const auto line = simulator.ReadLine();
  return line ? ParseTimedEvent(*line) : TimedEvent{-1, "(no line)"};
}

inline std::vector<std::string> NextEventTexts(sim::test_support::SimProcess& simulator, std::size_t count) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    texts.push_back(NextTimedEvent(simulator).text);
  }
  return texts;
}

} // namespace kv58::testing
