// kv58 over a slow link: a network namespace of the test's own whose loopback is shaped to a
// few kbit/s, socat in it as the device server in front of the simulator's terminal. A page
// takes about a second to cross, so the display gets its pause only if the pause starts once
// the server has the page, not once the kernel has taken it; and the server's acknowledgement
// comes later than a short write's serial time-out would wait.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/own_network.h"
#include "common/testing/scratch_dir.h"
#include "protocol/text_upload.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/tests/program_run.h"
#include "tools/kv58/tests/quiet_child.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::cli {
namespace {

using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using test_support::QuietChild;

constexpr const char* kIp = "/usr/sbin/ip";
constexpr const char* kTc = "/usr/sbin/tc";
constexpr const char* kSocat = "/usr/bin/socat";
// The namespace is the test's own, so the port is free. 0FA1 is how /proc/net/tcp writes it.
constexpr const char* kServerPort = "4001";
constexpr const char* kListening = "0100007F:0FA1 00000000:0000 0A";

// The test's own network with its loopback shaped to `rate`.
struct ShapedNetwork : kv58::testing::OwnNetwork {
  explicit ShapedNetwork(const std::string& rate) {
    if (why.empty() && !QuietChild({kTc, "qdisc", "add", "dev", "lo", "root", "tbf", "rate", rate, "burst",
                                    "400", "latency", "2s"})
                            .Succeeded()) {
      why = "tc cannot shape the loopback with tbf (no sch_tbf in this kernel?)";
    }
  }
};

// Whether `pid` listens on 127.0.0.1:kServerPort in its namespace, within a few seconds.
bool Listening(pid_t pid) {
  for (int attempt = 0; pid > 0 && attempt < 300; ++attempt) {
    std::ifstream table("/proc/" + std::to_string(pid) + "/net/tcp");
    std::ostringstream lines;
    lines << table.rdbuf();
    if (lines.str().find(kListening) != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Page starts and sizes from the simulator's "text 900 bytes, pages at 503, 2079 ms (256 + 644
// bytes), end at 5213 ms: "..."" with the text it got; false for any other line.
bool ParseText(const std::string& event, std::vector<int>& starts, std::vector<std::size_t>& sizes,
               std::string& text) {
  static const std::regex kText(R"re(text \d+ bytes, pages? at ([\d, ]+) ms \(([\d + ]+) bytes?\), )re"
                                R"re(end at \d+ ms: "(.*)")re");
  std::smatch match;
  if (!std::regex_match(event, match, kText)) {
    return false;
  }
  static const std::regex kNumber(R"(\d+)");
  const std::string startList = match[1];
  const std::string sizeList = match[2];
  for (std::sregex_iterator it(startList.begin(), startList.end(), kNumber); it != std::sregex_iterator();
       ++it) {
    starts.push_back(std::stoi(it->str()));
  }
  for (std::sregex_iterator it(sizeList.begin(), sizeList.end(), kNumber); it != std::sregex_iterator();
       ++it) {
    sizes.push_back(std::stoul(it->str()));
  }
  text = match[3];
  return true;
}

struct SlowLink {
  const char* label;
  const char* rate; // as tc takes it
  std::size_t wholePages;
  std::size_t lastPageBytes;
};

void PrintTo(const SlowLink& link, std::ostream* os) { *os << link.label; }

class Kv58SlowLinkTest : public ::testing::TestWithParam<SlowLink> {};

INSTANTIATE_TEST_SUITE_P(
    Links, Kv58SlowLinkTest,
    ::testing::Values(
        // Without the wait for the acknowledgement the link sets the pace from the second page on.
        SlowLink{"FourKbitFourPages", "4kbit", 3, 132},
        // The short last page is acknowledged about a second later, past its 980 ms time-out.
        SlowLink{"TwoKbitShortLastPage", "2kbit", 2, 88}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_P(Kv58SlowLinkTest, EachPageReachesTheDisplayAFullPauseAfterTheOneBefore) {
  const SlowLink& link = GetParam();
  for (const char* program : {kIp, kTc, kSocat}) {
    if (::access(program, X_OK) != 0) {
      GTEST_SKIP() << program << " is not installed (scripts/test installs it)";
    }
  }
  ScratchDir config;
  SimProcess sim; // outside the namespace: its terminal is a file, not the network
  const auto pty = sim.StartLinked("COM9", config.Path());
  ASSERT_TRUE(pty.has_value());
  std::string text;
  for (std::size_t i = 0; i < link.wholePages * kPageBytes + link.lastPageBytes; ++i) {
    text += static_cast<char>('a' + i % 26);
  }
  const auto file = config.Write("text.txt", text);

  const ShapedNetwork network(link.rate);
  if (!network.why.empty()) {
    GTEST_SKIP() << network.why;
  }
  QuietChild server({kSocat, std::string("TCP-LISTEN:") + kServerPort + ",bind=127.0.0.1,reuseaddr",
                     "FILE:" + *pty + ",raw,echo=0"});
  ASSERT_TRUE(Listening(server.Pid()));
  const auto run = test_support::RunProgram(
      {"--port", std::string("tcp://127.0.0.1:") + kServerPort, "-q", "send", file.string()}, config.Path());
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDone) << run->err;

  EXPECT_EQ(sim.NextEvent(), "open");
  const std::string event = sim.NextEvent();
  std::vector<int> starts;
  std::vector<std::size_t> sizes;
  std::string got;
  ASSERT_TRUE(ParseText(event, starts, sizes, got)) << event;
  const std::string pages = event.substr(0, event.find(':')); // without the text
  EXPECT_EQ(got, text) << "the whole text, in order";
  // Pages run together or split apart at the display show as other sizes.
  std::vector<std::size_t> expectedSizes(link.wholePages, kPageBytes);
  expectedSizes.push_back(link.lastPageBytes);
  EXPECT_EQ(sizes, expectedSizes) << pages;
  // kv58 pauses from the server's acknowledgement, which the kernel gives on receipt; socat and
  // the simulator may then take a few ms longer to pass on one page than the next on a busy
  // machine (seen: 996 ms). A pause that starts at the send is some 300 ms short here.
  constexpr int kForwardingJitterMs = 50;
  std::string gaps;
  for (std::size_t i = 1; i < starts.size(); ++i) {
    EXPECT_GE(starts[i] - starts[i - 1], static_cast<int>(kPagePauseMs) - kForwardingJitterMs)
        << "before page " << i + 1 << ": " << pages;
    gaps += (i > 1 ? ", " : "") + std::to_string(starts[i] - starts[i - 1]);
  }
  RecordProperty("page_gaps_ms", gaps);
}

// A link that goes dead while nothing is being sent (the loopback of the test's own namespace
// taken down under a monitor) is noticed, and kv58 ends as for an unplugged port.
TEST(Kv58DeadLinkTest, AMonitorNoticesALinkThatWentDead) {
  if (::access(kIp, X_OK) != 0 || ::access(kTc, X_OK) != 0) {
    GTEST_SKIP() << "ip and tc are not installed (scripts/test installs them)";
  }
  const ShapedNetwork network("100mbit");
  if (!network.why.empty()) {
    GTEST_SKIP() << network.why;
  }
  const int listener = kv58::testing::ListenOnLoopback(4002, 1).fd; // accepts, then says nothing
  ASSERT_GE(listener, 0);
  ScratchDir config;
  test_support::Launch launch;
  launch.whileRunning = [](pid_t) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    (void)QuietChild({kIp, "link", "set", "lo", "down"}).Succeeded();
  };
  const auto run =
      test_support::RunProgram({"--port", "tcp://127.0.0.1:4002", "monitor"}, config.Path(), launch);
  ::close(listener);
  ASSERT_TRUE(run.has_value()) << "kv58 did not notice within its patience";
  EXPECT_EQ(run->status, kExitDeviceError);
  EXPECT_THAT(run->err, ::testing::HasSubstr("monitor ended: the port is gone"));
}

} // namespace
} // namespace kv58::cli
