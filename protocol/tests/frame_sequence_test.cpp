// The settings that take several frames: the pause before a reset, and lines that never
// cross on the way, on a recording driver.

#include "protocol/frame_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "protocol/tests/protocol_test_support.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;

using FrameSequenceTest = testing::OpenPortTest<>;

// The observer sees each frame before its pause, and may end the sequence there.
TEST_F(FrameSequenceTest, ScrollTypeIsFollowedByTenMillisecondsThenTheReset) {
  std::vector<std::string> seen;
  const auto observe = [&](const Frame& frame, bool sent) {
    seen.push_back(std::to_string(static_cast<int>(frame.code)) + (sent ? " sent" : " lost"));
    return true;
  };

  EXPECT_TRUE(SendScrollType(port, 2, driver.RecordingPause(), observe));

  EXPECT_EQ(driver.sent, "\xFF\x06\x02\xFF\x09");
  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W1", "D", "P10", "W1", "W1"))
      << "a drain where the pause begins, none between the bytes of a frame";
  EXPECT_THAT(seen, ElementsAre("6 sent", "9 sent"));
}

TEST_F(FrameSequenceTest, ObserverThatStopsAtAFailureKeepsThePauseAndTheRestOffTheLine) {
  driver.failingWrites.insert(1);
  EXPECT_FALSE(
      SendScrollType(port, 1, driver.RecordingPause(), [](const Frame&, bool sent) { return sent; }));
  EXPECT_THAT(driver.WritesAndPauses(), ElementsAre("W1", "W1", "W1"));
}

struct LinesCase {
  std::int32_t first;
  std::int32_t last;
  std::string frames;
};

// The last line goes to the bottom first, so the first line never passes it on the way.
TEST_F(FrameSequenceTest, LinesNeverCrossOnTheWay) {
  const LinesCase cases[] = {
      {3, 9, "\xFF\x05\x16\xFF\x04\x03\xFF\x05\x09"},
      {20, 22, "\xFF\x05\x16\xFF\x04\x14"},
      {1, 1, "\xFF\x05\x16\xFF\x04\x01\xFF\x05\x01"},
  };
  for (const auto& c : cases) {
    driver.ClearRecord();
    EXPECT_TRUE(SendFrames(port, LinesFrames(c.first, c.last), driver.RecordingPause(), {}));
    EXPECT_EQ(driver.sent, c.frames) << c.first << " to " << c.last;
  }
}

} // namespace
} // namespace kv58
