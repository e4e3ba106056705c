#include "common/debug_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kv58 {
namespace {

using ::testing::ElementsAre;

TEST(DebugLog, StartsWithOneEmptyLineAndAppends) {
  DebugLog log;
  log.Log("a");
  EXPECT_THAT(log.Lines(), ElementsAre("", "a"));
}

TEST(DebugLog, ClearLeavesNoLines) {
  DebugLog log;
  log.Log("a");
  log.Clear();
  log.Log("b");
  EXPECT_THAT(log.Lines(), ElementsAre("b"));
}

TEST(DebugLog, TheListenerHearsEveryLineAndEveryClear) {
  DebugLog log;
  std::vector<std::size_t> sizesHeard;
  log.SetListener([&] { sizesHeard.push_back(log.Lines().size()); });
  log.Log("a");
  log.Log("b");
  log.Clear();
  log.Log("c");
  EXPECT_THAT(sizesHeard, ElementsAre(2u, 3u, 0u, 1u));
}

} // namespace
} // namespace kv58
