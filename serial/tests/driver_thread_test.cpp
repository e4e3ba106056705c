// The window's driver thread where the window's tests cannot reach it: a step asked for from
// inside the caller's wait (the receive timer ticking) is refused; what a step or the work it
// hands back to the caller throws reaches the caller, and the thread lives on.

#include "serial/driver_thread.h"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <thread>

namespace kv58 {
namespace {

TEST(DriverThreadTest, AStepAskedForDuringAnotherIsRefusedAndWhatEitherSideThrowsReachesTheCaller) {
  std::optional<DriverThread::Outcome> nested;
  DriverThread* self = nullptr;
  DriverThread thread([&] {
    if (!nested) {
      nested = self->Run([] { ADD_FAILURE() << "a second step ran during the first"; });
    }
  });
  self = &thread;
  EXPECT_EQ(thread.Run([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }),
            DriverThread::Outcome::Done);
  EXPECT_EQ(nested, DriverThread::Outcome::Busy);

  EXPECT_THROW((void)thread.Run([] { throw std::runtime_error("from the step"); }), std::runtime_error);
  EXPECT_THROW((void)thread.Run([&] { thread.OnCaller([] { throw std::logic_error("from the caller"); }); }),
               std::logic_error);
  int ran = 0;
  EXPECT_EQ(thread.Run([&] { ++ran; }), DriverThread::Outcome::Done);
  EXPECT_EQ(ran, 1) << "the thread lives on";
}

} // namespace
} // namespace kv58
