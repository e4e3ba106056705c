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

} // namespace
} // namespace kv58
