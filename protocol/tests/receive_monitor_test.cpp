#include "protocol/receive_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/tests/protocol_test_support.h"
#include "serial/testing/fake_serial_driver.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeSerialDriver;

class ReceiveMonitorTest : public testing::OpenPortTest<FakeSerialDriver> {
protected:
  ReceiveMonitor monitor;

  // The byte counts asked of ReadFile during the record, in order.
  [[nodiscard]] std::vector<std::uint32_t> ReadSizes() const {
    std::vector<std::uint32_t> sizes;
    for (const auto& call : driver.calls) {
      if (call.function == "ReadFile") {
        sizes.push_back(call.count);
      }
    }
    return sizes;
  }

  void Receive(std::string bytes) {
    driver.incoming = std::move(bytes);
    monitor.Tick(port);
  }
};

TEST_F(ReceiveMonitorTest, ClosedPortIsLeftAlone) {
  ASSERT_TRUE(port.Close());
  driver.ClearRecord();
  driver.incoming = "abc";
  monitor.Tick(port);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(monitor.Line(), "");
}

TEST_F(ReceiveMonitorTest, NothingWaitingEndsAfterOneStatusQuery) {
  monitor.Tick(port);
  EXPECT_THAT(driver.CallNames(), ElementsAre("ClearCommError"));
}

struct DrainCase {
  const char* label;
  std::size_t waiting;
  std::vector<std::uint32_t> reads;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const DrainCase& row, std::ostream* out) { *out << row.label; }

class DrainTest : public ReceiveMonitorTest, public ::testing::WithParamInterface<DrainCase> {};

TEST_P(DrainTest, EmptiesTheQueueInReadsOfAtMostOneKibibyte) {
  const auto& c = GetParam();
  Receive(std::string(c.waiting, 'a'));
  EXPECT_THAT(ReadSizes(), ElementsAreArray(c.reads));
  EXPECT_TRUE(driver.incoming.empty());
}

INSTANTIATE_TEST_SUITE_P(Queue, DrainTest,
                         ::testing::Values(DrainCase{"TenBytes", 10, {10}},
                                           DrainCase{"OneRead", 1024, {1024}},
                                           DrainCase{"ThreeThousand", 3000, {1024, 1024, 952}}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST_F(ReceiveMonitorTest, BytesJoinTheLineInTheOrderRead) {
  Receive("ab");
  Receive(std::string("c\0d", 3));
  EXPECT_EQ(monitor.Line(), std::string("abc\0d", 5));
}

TEST_F(ReceiveMonitorTest, SinkGetsEachReadRawAndInOrder) {
  driver.incoming = std::string(1500, 'a') + "\r\n\xFF";
  std::vector<std::string> reads;
  DrainReceived(port, [&reads](std::string_view bytes) { reads.emplace_back(bytes); });
  EXPECT_THAT(reads, ElementsAre(std::string(1024, 'a'), std::string(476, 'a') + "\r\n\xFF"));
}

TEST_F(ReceiveMonitorTest, PortThatReportsBytesButYieldsNoneEndsTheTick) {
  driver.reportedQueue = 5;
  monitor.Tick(port);
  EXPECT_EQ(driver.CountOf("ReadFile"), 1u);
}

TEST_F(ReceiveMonitorTest, FailingReadEndsTheTickAndLeavesTheBytesQueued) {
  driver.failing.insert("ReadFile");
  Receive("0123456789");
  EXPECT_EQ(driver.CountOf("ReadFile"), 1u);
  EXPECT_EQ(driver.incoming.size(), 10u);
}

TEST_F(ReceiveMonitorTest, TickEndsAfterSixtyFourReadsAndTheNextTickGoesOn) {
  driver.reportedQueue = 1; // one byte at a time, more always announced
  Receive(std::string(100, 'a'));
  EXPECT_EQ(driver.CountOf("ReadFile"), 64u);
  EXPECT_EQ(driver.incoming.size(), 36u);

  driver.reportedQueue.reset();
  driver.ClearRecord();
  monitor.Tick(port);
  EXPECT_THAT(ReadSizes(), ElementsAre(36u));
  EXPECT_EQ(monitor.Line(), std::string(100, 'a'));
}

TEST_F(ReceiveMonitorTest, SixtyFourKibibytesAreDrainedInOneTick) {
  Receive(std::string(64 * 1024 + 1, 'a'));
  EXPECT_EQ(driver.CountOf("ReadFile"), 64u);
  EXPECT_EQ(driver.incoming.size(), 1u) << "the rest waits for the next tick";
}

TEST_F(ReceiveMonitorTest, CrLfWithinOneTickCompletesAndEmptiesTheLine) {
  Receive("Hello\r\n");
  EXPECT_EQ(monitor.Line(), "");
}

TEST_F(ReceiveMonitorTest, SeveralLinesInOneTickKeepWhatFollowsTheLast) {
  Receive("a\r\n\r\nb\r\nrest");
  EXPECT_EQ(monitor.Line(), "rest");
}

TEST_F(ReceiveMonitorTest, CrLfSplitBetweenTwoReadsOfOneTickStillPairs) {
  std::string bytes(1023, 'x');
  bytes += "\r\nyz"; // the CR ends the first read of 1024, the LF opens the second
  Receive(bytes);
  EXPECT_THAT(ReadSizes(), ElementsAre(1024u, 3u));
  EXPECT_EQ(monitor.Line(), "yz");
}

TEST_F(ReceiveMonitorTest, CrEndingOneTickDoesNotPairWithLfOpeningTheNext) {
  Receive("ab\r");
  Receive("\ncd");
  EXPECT_EQ(monitor.Line(), "ab\r\ncd");
}

TEST_F(ReceiveMonitorTest, OnlyCrFollowedByLfEndsALine) {
  Receive("a\n\rb\rc\nd");
  EXPECT_EQ(monitor.Line(), "a\n\rb\rc\nd");
  Receive("x\r\r\ny");
  EXPECT_EQ(monitor.Line(), "y");
}

TEST_F(ReceiveMonitorTest, LineWithoutEndKeepsOnlyItsNewestBytes) {
  std::string older(ReceiveMonitor::kMaxLineBytes, 'o');
  std::string newer(ReceiveMonitor::kMaxLineBytes - 10, 'n');
  Receive(older);
  Receive(newer);
  EXPECT_EQ(monitor.Line(), std::string(10, 'o') + newer);

  Receive("\r\n");
  EXPECT_EQ(monitor.Line(), "");
}

} // namespace
} // namespace kv58
