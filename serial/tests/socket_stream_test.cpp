// The real connection's open when the name look-up gets no thread, or no answer. The stops
// during a look-up and a connection are rows of network_line_test's stop table.

#include "serial/socket_stream.h"

#include <gtest/gtest.h>

#include "serial/network_serial_driver.h"

namespace kv58 {
namespace {

TEST(SocketStreamTest, ALookUpWithoutAThreadOrAnAnswerFailsAsSuchAndNeverThrows) {
  using Kind = OpenFailure::Kind;
  const struct {
    bool threadStarts; // but never runs the look-up, as a resolver that does not answer
    Kind kind;
    const char* says;
  } cases[] = {
      {false, Kind::NoThread, "the system would not start a thread to look up display-7.invalid"},
      {true, Kind::LookUpTimedOut, "the name look-up of display-7.invalid did not end within 3 s"},
  };
  for (const auto& c : cases) {
    BoundedCallPool lookUps(4, [&c](const std::function<void()>&) { return c.threadStarts; });
    NetworkSerialDriver driver(SocketConnector(lookUps));
    EXPECT_EQ(driver.CreateFileA("tcp://display-7.invalid:4001"), 0u);
    EXPECT_EQ(driver.LastOpenFailure().kind, c.kind);
    EXPECT_EQ(driver.LastOpenFailure().detail,
              "cannot connect to display-7.invalid:4001: " + std::string(c.says));
  }
}

} // namespace
} // namespace kv58
