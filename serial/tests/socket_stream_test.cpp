// The real connection's open when the system will not start a thread for the name look-up.
// The stops during a look-up and a connection are rows of network_line_test's stop table.

#include "serial/socket_stream.h"

#include <gtest/gtest.h>

#include "serial/network_serial_driver.h"

namespace kv58 {
namespace {

TEST(SocketStreamTest, ALookUpWithoutAThreadFailsAsSuchAndNeverThrows) {
  BoundedCallPool noThreads(4, [](const std::function<void()>&) { return false; });
  NetworkSerialDriver driver(SocketConnector(noThreads));
  EXPECT_EQ(driver.CreateFileA("tcp://display-7.invalid:4001"), 0u);
  EXPECT_EQ(driver.LastOpenFailure().kind, OpenFailure::Kind::NoThread);
  EXPECT_EQ(driver.LastOpenFailure().detail, "cannot connect to display-7.invalid:4001: the system would not "
                                             "start a thread to look up display-7.invalid");
}

} // namespace
} // namespace kv58
