// A call without a time-out of its own, bounded: its result when it ends in time, none at the
// deadline, and a late result handed to the discard function rather than lost or leaked; on a
// pool that never runs more threads than its cap, and drops a call still queued at its deadline.

#include "serial/bounded_call.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

TEST(BoundedCallTest, AQuickCallGivesItsResult) {
  BoundedCallPool pool(4);
  const auto result =
      pool.Call<int>([] { return 42; }, [](int&) {}, std::chrono::steady_clock::now() + 5s).value;
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 42);
}

TEST(BoundedCallTest, ACallThatOutlivesTheDeadlineIsAbandonedAndItsResultDiscarded) {
  BoundedCallPool pool(4);
  std::promise<void> release;
  std::promise<int> discarded;
  auto released = release.get_future().share();
  const auto result = pool.Call<int>(
      [released] {
        released.wait();
        return 7;
      },
      [&discarded](int& late) { discarded.set_value(late); }, std::chrono::steady_clock::now() + 50ms);
  EXPECT_FALSE(result.value.has_value()) << "the caller did not wait past its deadline";
  release.set_value();
  auto late = discarded.get_future();
  ASSERT_EQ(late.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(late.get(), 7);
}

// Sixty look-ups held by a resolver that does not answer: four threads, the rest queued.
TEST(BoundedCallTest, ManyBlockedCallsNeverRunOnMoreThreadsThanTheCap) {
  BoundedCallPool pool(4);
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<int> running{0};
  std::atomic<int> done{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < 60; ++i) {
    callers.emplace_back([&] {
      const auto work = [&] {
        ++running;
        released.wait();
        return 1;
      };
      done += pool.Call<int>(
                      work, [](int&) {}, std::chrono::steady_clock::now() + 30s)
                  .value.value_or(0);
    });
  }
  while (running < 4) {
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(100ms); // room for a thread past the cap to show itself
  EXPECT_EQ(running, 4);
  release.set_value();
  for (auto& caller : callers) {
    caller.join();
  }
  EXPECT_EQ(done, 60) << "every queued call ran once a thread was free";
  EXPECT_EQ(pool.PeakThreads(), 4u);
}

TEST(BoundedCallTest, ACallStillQueuedAtItsDeadlineIsDroppedUnrun) {
  std::function<void()> thread; // the pool's one thread, which the test runs after the deadline
  BoundedCallPool pool(
      1, [&thread](std::function<void()> body) { return (thread = std::move(body)) != nullptr; }, 10ms);
  bool ran = false;
  const auto queued =
      pool.Call<int>([&ran] { return ran = true; }, [](int&) {}, std::chrono::steady_clock::now() + 50ms);
  EXPECT_EQ(queued.end, BoundedCallPool::End::TimedOut);
  ASSERT_TRUE(thread);
  thread(); // serves what is queued, then ends idle
  EXPECT_FALSE(ran) << "a call nobody waits for any more is not made";
}

} // namespace
} // namespace kv58
