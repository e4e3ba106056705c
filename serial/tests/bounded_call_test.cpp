// A call without a time-out of its own, bounded: its result when it ends in time, none at the
// deadline, and a late result handed to the discard function rather than lost or leaked.

#include "serial/bounded_call.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

TEST(BoundedCallTest, AQuickCallGivesItsResult) {
  const auto result = CallWithin<int>([] { return 42; }, [](int&) {}, std::chrono::steady_clock::now() + 5s);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 42);
}

TEST(BoundedCallTest, ACallThatOutlivesTheDeadlineIsAbandonedAndItsResultDiscarded) {
  std::promise<void> release;
  std::promise<int> discarded;
  auto released = release.get_future().share();
  const auto result = CallWithin<int>(
      [released] {
        released.wait();
        return 7;
      },
      [&discarded](int& late) { discarded.set_value(late); }, std::chrono::steady_clock::now() + 50ms);
  EXPECT_FALSE(result.has_value()) << "the caller did not wait past its deadline";
  release.set_value();
  auto late = discarded.get_future();
  ASSERT_EQ(late.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(late.get(), 7);
}

} // namespace
} // namespace kv58
