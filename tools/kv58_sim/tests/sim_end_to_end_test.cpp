// Runs the real kv58-sim and talks to it the way the controller does: through the link it
// makes in the port map directory, opened as a plain raw terminal. Time-outs here only keep
// a broken simulator from hanging the test; nothing is asserted about how fast it is.

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "common/testing/scratch_dir.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::sim {
namespace {

namespace fs = std::filesystem;
using test_support::Clock;
using test_support::kPatience;
using test_support::SimProcess;
using test_support::WaitReadable;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

// The port as the controller opens it: read and write, no controlling terminal, raw.
int OpenRawTerminal(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  termios settings{};
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  return fd;
}

bool WriteBytes(int fd, std::string_view bytes) {
  return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Reads until count bytes came or the deadline passed; returns what came.
std::string ReadBytes(int fd, std::size_t count) {
  const auto deadline = Clock::now() + kPatience;
  std::string received;
  while (received.size() < count && WaitReadable(fd, deadline)) {
    std::array<char, 256> chunk{};
    const ssize_t got = read(fd, chunk.data(), std::min(chunk.size(), count - received.size()));
    if (got <= 0) {
      break;
    }
    received.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return received;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) {
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

class SimEndToEndTest : public ::testing::Test {
protected:
  [[nodiscard]] fs::path PortEntry(std::string_view name) const {
    return config.Path() / "kv58" / "ports" / name;
  }

  // Starts the simulator and reads its two start lines; gives the terminal's path.
  std::string StartLinked(std::vector<std::string> args, std::string_view name) {
    args.insert(args.begin(), {"--link", std::string(name)});
    if (!sim.Start(args, config.Path())) {
      ADD_FAILURE() << "kv58-sim did not start";
      return {};
    }
    const std::string ptyLine = sim.ReadLine().value_or("");
    EXPECT_THAT(ptyLine, StartsWith("pty /dev/pts/"));
    std::string slave = ptyLine.substr(4);
    EXPECT_EQ(sim.ReadLine(), "link " + PortEntry(name).string() + " -> " + slave);
    return slave;
  }

  kv58::testing::ScratchDir config;
  SimProcess sim;
};

TEST_F(SimEndToEndTest, DecodesWhatTheProgramSendsAnswersEachFrameAndRemovesItsLink) {
  const std::string slave = StartLinked({"--reply", "06"}, "COM201");
  ASSERT_EQ(fs::read_symlink(PortEntry("COM201")), slave);

  const int port = OpenRawTerminal(PortEntry("COM201"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_EQ(sim.NextEvent(), "open");

  ASSERT_TRUE(
      WriteBytes(port, "ABC" + Bytes({0xFF, 0x03, 0x04, 0xFF, 0x04, 0x02, 0xFF, 0x05, 0x0A, 0xFF, 0x06,
                                      0x01, 0xFF, 0x08, 0xFF, 0x09, 0xFF, 0x07, 'H',  'i',  0xFF, 0x00})));
  std::vector<std::string> events;
  events.reserve(8);
  for (int i = 0; i < 8; ++i) {
    events.push_back(sim.NextEvent());
  }
  EXPECT_THAT(events, ElementsAre("undecoded 3 bytes (no marker): 41 42 43", "speed 4", "first-line 2",
                                  "last-line 10", "scroll-type 1 (vertical)", "store", "reset",
                                  AllOf(StartsWith("text 3 bytes, page at "), EndsWith(R"(: "Hi\xff")"))));
  EXPECT_EQ(ReadBytes(port, 7), std::string(7, '\x06')) << "one reply per frame and upload, none for garbage";

  ASSERT_TRUE(WriteBytes(port, Bytes({0xFF, 0x03})));
  close(port);
  EXPECT_EQ(sim.NextEvent(), "undecoded 2 bytes (incomplete frame): ff 03");
  EXPECT_EQ(sim.NextEvent(), "hangup");

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.NextEvent(), "exit (SIGTERM)");
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(PortEntry("COM201"))));
}

TEST_F(SimEndToEndTest, JsonLinesAndExitWhenTheProgramHangsUp) {
  if (!sim.Start({"--json", "--exit-on-hangup", "--link", "COM202"}, config.Path())) {
    FAIL() << "kv58-sim did not start";
  }
  EXPECT_THAT(sim.ReadLine().value_or(""),
              MatchesRegex(R"(\{"t_ms":0,"event":"pty","path":"/dev/pts/[0-9]+"\})"));
  EXPECT_THAT(sim.ReadLine().value_or(""), StartsWith(R"({"t_ms":0,"event":"link","path":")"));

  const int port = OpenRawTerminal(PortEntry("COM202"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_THAT(sim.ReadLine().value_or(""), MatchesRegex(R"(\{"t_ms":[0-9]+,"event":"open"\})"));
  ASSERT_TRUE(WriteBytes(port, Bytes({0xFF, 0x06, 0x02, 0xFF, 0x07, 0xB9, '"', 0x00})));
  EXPECT_THAT(sim.ReadLine().value_or(""),
              MatchesRegex(R"(\{"t_ms":[0-9]+,"event":"scroll-type","value":2,"name":"horizontal"\})"));
  EXPECT_THAT(
      sim.ReadLine().value_or(""),
      MatchesRegex(R"(\{"t_ms":[0-9]+,"event":"text","bytes":2,"text":"\\u00b9\\"","truncated":false,)"
                   R"("pages_ms":\[[0-9]+\],"page_bytes":\[2\],"end_ms":[0-9]+\})"));
  close(port);

  EXPECT_THAT(sim.ReadLine().value_or(""), MatchesRegex(R"(\{"t_ms":[0-9]+,"event":"hangup"\})"));
  EXPECT_THAT(sim.ReadLine().value_or(""),
              MatchesRegex(R"(\{"t_ms":[0-9]+,"event":"exit","reason":"hangup"\})"));
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(PortEntry("COM202"))));
}

TEST_F(SimEndToEndTest, PushesTheFileOnceAtTheFirstOpenAndServesTheNextOpenToo) {
  const fs::path file = config.Path() / "push.bin";
  std::ofstream(file, std::ios::binary) << "hello\r\n";
  StartLinked({"--send-file", file.string(), "--send-hex", "ff00", "--reply", "06"}, "COM203");

  int port = OpenRawTerminal(PortEntry("COM203"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_EQ(sim.NextEvent(), "open");
  EXPECT_EQ(ReadBytes(port, 9), "hello\r\n" + Bytes({0xFF, 0x00}));
  close(port);
  EXPECT_EQ(sim.NextEvent(), "hangup");

  port = OpenRawTerminal(PortEntry("COM203"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_EQ(sim.NextEvent(), "open");
  ASSERT_TRUE(WriteBytes(port, Bytes({0xFF, 0x09})));
  EXPECT_EQ(sim.NextEvent(), "reset");
  // A second push would have been queued ahead of the reply.
  EXPECT_EQ(ReadBytes(port, 1), "\x06");
  close(port);
  EXPECT_EQ(sim.NextEvent(), "hangup");

  sim.Signal(SIGINT);
  EXPECT_EQ(sim.NextEvent(), "exit (SIGINT)");
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(PortEntry("COM203"))));
}

TEST_F(SimEndToEndTest, BytesLeftUnreadByOneProgramDoNotReachTheNext) {
  StartLinked({"--send-hex", "aa", "--reply", "06"}, "COM206");

  int port = OpenRawTerminal(PortEntry("COM206"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_EQ(sim.NextEvent(), "open");
  close(port); // the pushed byte is never read
  EXPECT_EQ(sim.NextEvent(), "hangup");

  port = OpenRawTerminal(PortEntry("COM206"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_EQ(sim.NextEvent(), "open");
  ASSERT_TRUE(WriteBytes(port, Bytes({0xFF, 0x08})));
  EXPECT_EQ(sim.NextEvent(), "store");
  EXPECT_EQ(ReadBytes(port, 1), "\x06");
  close(port);
}

TEST_F(SimEndToEndTest, AFrameLeftHalfWayIsReportedWhenTheSimulatorIsStopped) {
  StartLinked({}, "COM207");
  const int port = OpenRawTerminal(PortEntry("COM207"));
  ASSERT_GE(port, 0) << std::strerror(errno);
  EXPECT_EQ(sim.NextEvent(), "open");
  ASSERT_TRUE(WriteBytes(port, Bytes({0xFF, 0x03, 0x04, 0xFF, 0x06})));
  EXPECT_EQ(sim.NextEvent(), "speed 4");

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.NextEvent(), "undecoded 2 bytes (incomplete frame): ff 06");
  EXPECT_EQ(sim.NextEvent(), "exit (SIGTERM)");
  EXPECT_EQ(sim.WaitForExit(), 0);
  close(port);
}

TEST_F(SimEndToEndTest, AFileToPushThatCannotBeReadStopsTheStart) {
  ASSERT_TRUE(sim.Start({"--link", "COM208", "--send-file", config.Path().string()}, config.Path()));
  EXPECT_EQ(sim.WaitForExit(), 1);
  EXPECT_FALSE(fs::exists(fs::symlink_status(PortEntry("COM208"))));
}

TEST_F(SimEndToEndTest, ReplacesAStaleLink) {
  fs::create_directories(PortEntry("COM204").parent_path());
  fs::create_symlink(config.Path() / "unplugged", PortEntry("COM204"));

  const std::string slave = StartLinked({}, "COM204");
  EXPECT_EQ(fs::read_symlink(PortEntry("COM204")), slave);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(PortEntry("COM204"))));
}

TEST_F(SimEndToEndTest, RefusesToTakeOverALiveLinkAndLeavesIt) {
  const fs::path device = config.Path() / "device";
  std::ofstream(device).put('x');
  fs::create_directories(PortEntry("COM205").parent_path());
  fs::create_symlink(device, PortEntry("COM205"));

  ASSERT_TRUE(sim.Start({"--link", "COM205"}, config.Path()));
  EXPECT_EQ(sim.WaitForExit(), 1);
  EXPECT_EQ(fs::read_symlink(PortEntry("COM205")), device);
}

TEST_F(SimEndToEndTest, AWrongCommandLineExitsWithTwoAndHelpWithZero) {
  ASSERT_TRUE(sim.Start({"--link", "ttyS0"}, config.Path()));
  EXPECT_EQ(sim.WaitForExit(), 2);

  SimProcess help;
  ASSERT_TRUE(help.Start({"--help"}, config.Path()));
  EXPECT_THAT(help.ReadLine().value_or(""), StartsWith("Usage: kv58-sim"));
  EXPECT_EQ(help.WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(config.Path() / "kv58")) << "neither makes the port map directory";
}

} // namespace
} // namespace kv58::sim
