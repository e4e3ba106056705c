// The window's driver thread: every step on one thread that lives on, the caller waiting its
// own way meanwhile; work handed back to the caller; a step refused while another runs. A
// thread the system would not start is tried through the window (app/tests).

#include "serial/driver_thread.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kv58 {
namespace {

using namespace std::chrono_literals;

// A number per thread that the system never hands out twice, unlike a thread's id.
int ThreadSerial() {
  static std::atomic<int> next{1};
  thread_local const int serial = next++;
  return serial;
}

TEST(DriverThreadTest, EveryStepRunsOnOneLongLivedThreadWhileTheCallerWaitsItsOwnWay) {
  int turns = 0;
  std::optional<DriverThread::Outcome> nested;
  DriverThread* self = nullptr;
  DriverThread thread([&] {
    if (++turns == 2) { // the receive timer ticks meanwhile
      nested = self->Run([] { ADD_FAILURE() << "a second step ran during the first"; });
    }
  });
  self = &thread;

  std::vector<int> serials;
  for (int step = 0; step < 5; ++step) {
    ASSERT_EQ(thread.Run([&] {
      serials.push_back(ThreadSerial());
      if (step == 0) {
        std::this_thread::sleep_for(300ms); // a device server that takes its time
      }
    }),
              DriverThread::Outcome::Done);
  }

  EXPECT_GE(turns, 5) << "the caller's wait turned while the slow step ran";
  EXPECT_EQ(nested, DriverThread::Outcome::Busy);
  EXPECT_EQ(serials, std::vector<int>(5, serials.front())) << "one thread for every step";
  EXPECT_NE(serials.front(), ThreadSerial()) << "not the caller's";
}

TEST(DriverThreadTest, WorkHandedBackRunsOnTheCallersThreadInOrderAndWhatEitherSideThrowsReachesTheCaller) {
  DriverThread thread([] {});
  const int caller = ThreadSerial();
  std::vector<std::string> order;
  ASSERT_EQ(thread.Run([&] {
    order.push_back("write");
    thread.OnCaller(
        [&] { order.push_back(ThreadSerial() == caller ? "pause on the caller" : "pause elsewhere"); });
    order.push_back("write");
  }),
            DriverThread::Outcome::Done);
  EXPECT_EQ(order, (std::vector<std::string>{"write", "pause on the caller", "write"}));

  EXPECT_THROW((void)thread.Run([] { throw std::runtime_error("from the step"); }), std::runtime_error);
  bool stepSawIt = false;
  EXPECT_THROW((void)thread.Run([&] {
    try {
      thread.OnCaller([] { throw std::logic_error("from the caller's work"); });
    } catch (const std::logic_error&) {
      stepSawIt = true;
      throw;
    }
  }),
               std::logic_error);
  EXPECT_TRUE(stepSawIt);
  int ran = 0;
  EXPECT_EQ(thread.Run([&] { ++ran; }), DriverThread::Outcome::Done) << "the thread lives on after a throw";
  EXPECT_EQ(ran, 1);
}

} // namespace
} // namespace kv58
