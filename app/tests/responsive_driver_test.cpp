// The window's driver while a device server takes its time (a slow name look-up, a silent
// server): the window keeps taking its events meanwhile (user input from the window system
// excepted, as during the device's pauses).

#include "app/responsive_driver.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/testing/fake_serial_driver.h"

namespace kv58 {
namespace {

// A device server that takes 600 ms to connect.
class SlowServer final : public testing::FakeSerialDriver {
public:
  PortHandle CreateFileA(std::string_view portName) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return FakeSerialDriver::CreateFileA(portName);
  }
};

TEST(ResponsiveDriverTest, TheWindowKeepsAnsweringWhileTheServerTakesItsTime) {
  SlowServer server;
  ResponsiveDriver driver(server);
  int ticks = 0;
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start();

  EXPECT_NE(driver.CreateFileA("rfc2217://device-server:4001"), 0u);

  EXPECT_GE(ticks, 5) << "the window's events were taken while it waited";
  EXPECT_EQ(server.CallNames(), std::vector<std::string>{"CreateFileA"});
}

// A timer's status query while a call is on its way is answered without the driver: a
// driver serves one call at a time.
TEST(ResponsiveDriverTest, AStatusAskedWhileACallIsOnItsWayDoesNotReachTheDriver) {
  SlowServer server;
  ResponsiveDriver driver(server);
  std::optional<bool> nestedAnswer;
  QTimer::singleShot(50, [&] {
    std::uint32_t errors = 1;
    COMSTAT status;
    status.cbInQue = 9;
    nestedAnswer = driver.ClearCommError(1, errors, status) && errors == 0 && status.cbInQue == 0;
  });
  (void)driver.CreateFileA("rfc2217://device-server:4001");
  ASSERT_TRUE(nestedAnswer.has_value());
  EXPECT_TRUE(*nestedAnswer) << "nothing waiting, and no error";
  EXPECT_EQ(server.CallNames(), std::vector<std::string>{"CreateFileA"});
}

} // namespace
} // namespace kv58
