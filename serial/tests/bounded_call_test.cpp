// The pool that bounds calls without a time-out of their own (name look-ups): a result when
// the call ends in time, none at the deadline or a stop request, a late result handed to the
// discard function rather than lost or leaked, never more threads than its cap, and a thread
// the system will not start told as a failure of that call, not thrown.

#include "serial/bounded_call.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "common/stop_request.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using End = BoundedCallPool::End;

// A gate that blocked calls wait at, as look-ups wait on a resolver that does not answer.
struct Gate {
  std::promise<void> opened;
  std::shared_future<void> isOpen = opened.get_future().share();
};

TEST(BoundedCallPoolTest, AQuickCallGivesItsResult) {
  BoundedCallPool pool(4);
  const auto outcome = pool.Call<int>([] { return 42; }, [](int&) {}, Clock::now() + 5s);
  EXPECT_EQ(outcome.end, End::Done);
  ASSERT_TRUE(outcome.value.has_value());
  EXPECT_EQ(*outcome.value, 42);
}

TEST(BoundedCallPoolTest, ACallThatOutlivesTheDeadlineIsAbandonedAndItsResultDiscarded) {
  BoundedCallPool pool(4);
  Gate gate;
  std::promise<int> discarded;
  const auto outcome = pool.Call<int>(
      [open = gate.isOpen] {
        open.wait();
        return 7;
      },
      [&discarded](int& late) { discarded.set_value(late); }, Clock::now() + 50ms);
  EXPECT_EQ(outcome.end, End::TimedOut) << "the caller did not wait past its deadline";
  EXPECT_FALSE(outcome.value.has_value());
  gate.opened.set_value();
  auto late = discarded.get_future();
  ASSERT_EQ(late.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(late.get(), 7);
}

TEST(BoundedCallPoolTest, ManySlowCallsNeverRunOnMoreThreadsThanTheCap) {
  constexpr std::size_t kCap = 4;
  constexpr int kCallers = 60;
  BoundedCallPool pool(kCap);
  Gate gate;
  std::atomic<int> running{0};
  std::atomic<int> mostRunning{0};
  std::atomic<int> done{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&, i] {
      const auto outcome = pool.Call<int>(
          [&, i] {
            const int now = ++running;
            for (int most = mostRunning; now > most && !mostRunning.compare_exchange_weak(most, now);) {
            }
            gate.isOpen.wait();
            --running;
            return i;
          },
          [](int&) {}, Clock::now() + 30s);
      if (outcome.end == End::Done && outcome.value == i) {
        ++done;
      }
    });
  }
  while (running < static_cast<int>(kCap)) {
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(100ms); // room for any thread past the cap to show itself
  EXPECT_EQ(running, static_cast<int>(kCap));
  gate.opened.set_value();
  for (auto& caller : callers) {
    caller.join();
  }
  EXPECT_EQ(done, kCallers) << "every queued call ran once a thread was free";
  EXPECT_EQ(mostRunning, static_cast<int>(kCap));
  EXPECT_LE(pool.PeakThreads(), kCap);
}

TEST(BoundedCallPoolTest, ACallStillQueuedAtItsDeadlineIsDroppedUnrun) {
  BoundedCallPool pool(1);
  Gate gate;
  std::thread first([&pool, &gate] {
    (void)pool.Call<int>(
        [open = gate.isOpen] {
          open.wait();
          return 1;
        },
        [](int&) {}, Clock::now() + 30s);
  });
  while (pool.Threads() == 0) {
    std::this_thread::sleep_for(1ms);
  }
  std::atomic<bool> ran{false};
  const auto queued = pool.Call<int>(
      [&ran] {
        ran = true;
        return 2;
      },
      [](int&) {}, Clock::now() + 100ms);
  EXPECT_EQ(queued.end, End::TimedOut);
  gate.opened.set_value();
  first.join();
  EXPECT_EQ(pool.Call<int>([] { return 3; }, [](int&) {}, Clock::now() + 5s).value, 3);
  EXPECT_FALSE(ran) << "a call nobody waits for any more is not made";
}

TEST(BoundedCallPoolTest, AThreadTheSystemWillNotStartFailsTheCallWithoutThrowing) {
  std::atomic<int> asked{0};
  BoundedCallPool pool(4, [&asked](const std::function<void()>&) {
    ++asked;
    return false;
  });
  bool ran = false;
  const auto start = Clock::now();
  const auto outcome = pool.Call<int>(
      [&ran] {
        ran = true;
        return 1;
      },
      [](int&) {}, start + 5s);
  EXPECT_EQ(outcome.end, End::NoThread);
  EXPECT_LT(Clock::now() - start, 1s) << "no thread to wait for: said at once";
  EXPECT_FALSE(ran);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(pool.Threads(), 0u);
}

TEST(BoundedCallPoolTest, AStopRequestEndsTheWaitWithoutWaitingForTheCall) {
  BoundedCallPool pool(2);
  Gate gate;
  std::thread stopper([] {
    std::this_thread::sleep_for(150ms);
    RequestStop(StopLevel::Finish);
  });
  const auto start = Clock::now();
  const auto outcome = pool.Call<int>(
      [open = gate.isOpen] {
        open.wait();
        return 1;
      },
      [](int&) {}, start + 20s);
  stopper.join();
  ClearStopRequest();
  gate.opened.set_value();
  EXPECT_EQ(outcome.end, End::Stopped);
  EXPECT_LT(Clock::now() - start, 2s) << "the first request to stop ends a look-up at once";
}

} // namespace
} // namespace kv58
