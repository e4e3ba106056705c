// A driver call on a thread of its own while the caller goes on waiting its own way (the
// window takes its events): the wait turns while the call runs, and a status asked for from
// inside it does not reach the driver, which serves one call at a time.

#include "serial/off_thread_driver.h"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/testing/fake_serial_driver.h"

namespace kv58 {
namespace {

// A device server that takes 300 ms to connect (a slow name look-up, a silent server).
class SlowServer final : public testing::FakeSerialDriver {
public:
  PortHandle CreateFileA(std::string_view portName) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return FakeSerialDriver::CreateFileA(portName);
  }
};

TEST(OffThreadDriverTest, TheCallerWaitsItsOwnWayAndAStatusAskedMeanwhileIsAnsweredWithoutTheDriver) {
  SlowServer server;
  int turns = 0;
  std::optional<bool> nestedAnswer;
  OffThreadDriver* self = nullptr;
  OffThreadDriver driver(server, [&] {
    if (++turns == 2) { // the receive timer ticks meanwhile
      std::uint32_t errors = 1;
      COMSTAT status;
      status.cbInQue = 9;
      nestedAnswer = self->ClearCommError(1, errors, status) && errors == 0 && status.cbInQue == 0;
    }
  });
  self = &driver;

  EXPECT_NE(driver.CreateFileA("rfc2217://device-server:4001"), 0u);

  EXPECT_GE(turns, 5) << "the caller's wait turned while the call ran";
  ASSERT_TRUE(nestedAnswer.has_value());
  EXPECT_TRUE(*nestedAnswer) << "nothing waiting, and no error";
  EXPECT_EQ(server.CallNames(), std::vector<std::string>{"CreateFileA"});
}

} // namespace
} // namespace kv58
