#pragma once
// The simulator's text lines as the window's end-to-end tests read them: "[   1234 ms] reset"
// is the event "reset", seen 1234 ms after the simulator started.

#include <cstddef>
#include <regex>
#include <string>
#include <vector>

#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::testing {

struct TimedEvent {
  long milliseconds = -1; // -1: a line without a time ("pty ...", "listening ...")
  std::string text;
};

// The simulator stamps an event when it reads the event's first byte, in whole milliseconds. A
// busy machine can wake it late for the scroll type and on time for the reset, so the device's
// pause between them can show much shorter than it was (6 of 10 ms once, with the suite running
// two tests at a time). Without the pause the two frames come in one read, with one stamp. The
// pause's length itself is pinned by the window's line tests.
inline constexpr long kLeastScrollPauseSeen = 2;

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
