// kv58 against the device simulator on a pseudo-terminal: what arrives on the line, and how
// kv58 ends when the port is held by another program or goes away in the middle of a text.
// Time-outs only keep a broken run from hanging; the pauses are checked as lower bounds.

#include <array>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <thread>

#include "common/testing/scratch_dir.h"
#include "protocol/pause.h"
#include "serial/com_socket.h"
#include "serial/port_source_posix.h"
#include "serial/serial_driver_posix.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/run.h"
#include "tools/kv58/tests/program_run.h"
#include "tools/kv58/tests/stop_after.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::cli {
namespace {

namespace fs = std::filesystem;
using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using test_support::Finished;
using test_support::Launch;
using test_support::RunProgram;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kPort = "COM7";

// The milliseconds at the front of a simulator line: "[   1234 ms] reset".
long long TimeOf(const std::string& line) { return std::stoll(line.substr(1)); }

std::string EventOf(const std::string& line) {
  const std::size_t close = line.find("] ");
  return close == std::string::npos ? line : line.substr(close + 2);
}

class Kv58SimTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start({"--link", kPort}, config.Path()));
    const std::string ptyLine = sim.ReadLine().value_or("");
    ASSERT_TRUE(ptyLine.starts_with("pty /dev/pts/")) << ptyLine;
    pty = ptyLine.substr(4);
    ASSERT_THAT(sim.ReadLine().value_or(""), ::testing::StartsWith("link "));
  }

  [[nodiscard]] PortLocations Locations() const {
    return PortLocations{config.Path() / "kv58" / "ports", config.Path() / "no-devices"};
  }

  // kv58 in this process, on the simulator's link; never on a device node of the machine.
  // With `stopAfter`, the user presses Ctrl+C that long after the start.
  Finished Run(std::vector<std::string_view> args, std::optional<std::chrono::milliseconds> stopAfter = {}) {
    out.str("");
    err.str("");
    ClearStopRequest();
    std::istringstream in;
    Console console{out, err, in, false, [](const char*) { return std::nullopt; }, [](bool) {}};
    PosixSerialDriver driver(Locations());
    const PortLocations locations = Locations();
    Machine machine{driver,
                    [locations] {
                      return std::make_unique<PosixPortSource>(locations,
                                                               [](const fs::path&) { return false; });
                    },
                    SleepingPause(), std::chrono::milliseconds(20)};
    const int status =
        test_support::WithStopAfter(stopAfter, [&] { return RunKv58(args, console, machine); });
    return Finished{status, out.str(), err.str()};
  }

  fs::path WriteText(const std::string& text) {
    const fs::path path = config.Path() / "text.txt";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  ScratchDir config;
  SimProcess sim;
  std::string pty;
  std::ostringstream out; // what the last run printed, also while it runs
  std::ostringstream err;
};

TEST_F(Kv58SimTest, EachCommandsFramesArriveInOrderWithTheirPauses) {
  // The simulator notices an open a few milliseconds late and stamps what was queued by then
  // with one time; the one-page text first gives the later frames times of their own.
  const std::string file = WriteText("Hi").string();
  const Finished run = Run({"--port", kPort, "speed", "4", "lines", "3", "9", "send", file, "scroll",
                            "horizontal", "store", "reset"});
  ASSERT_EQ(run.status, kExitDone) << run.err;

  std::vector<std::string> lines;
  std::vector<std::string> events;
  for (int i = 0; i < 11; ++i) {
    lines.push_back(sim.ReadLine().value_or("(no line)"));
    events.push_back(EventOf(lines.back()));
  }
  EXPECT_THAT(events[5], ::testing::StartsWith("text 2 bytes, page at 0 ms (2 bytes), end at "));
  events[5] = "text";
  ASSERT_THAT(events, ElementsAre("open", "speed 4", "last-line 22", "first-line 3", "last-line 9", "text",
                                  "scroll-type 2 (horizontal)", "reset", "store", "reset", "hangup"));
  // Late reads on a loaded machine shorten the gap; a missing pause would leave almost none.
  EXPECT_GE(TimeOf(lines[6]) - TimeOf(lines[5]), 750) << "a second's pause after the page";
  // The simulator stamps a frame when it reads it: a read that comes late on a loaded machine
  // shortens the gap (5 ms seen), while a missing pause leaves both frames in one read. The
  // pause's length is pinned with the frames in protocol/tests.
  EXPECT_GE(TimeOf(lines[7]) - TimeOf(lines[6]), 2) << "the display needs its pause before the reset";
}

TEST_F(Kv58SimTest, LongestTextArrivesWholeInEightPagesASecondApart) {
  std::string text;
  for (std::size_t i = 0; i < 1983; ++i) {
    text += static_cast<char>('a' + i % 26);
  }
  const std::string file = WriteText(text).string();

  const Finished run = Run({"--port", kPort, "send", file});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, "COM7: sent text of 1983 bytes in 8 pages\n");

  EXPECT_EQ(sim.NextEvent(), "open");
  const std::string upload = sim.NextEvent();
  EXPECT_THAT(upload, HasSubstr("text 1983 bytes, pages at 0, "));
  EXPECT_THAT(upload, HasSubstr("(256 + 256 + 256 + 256 + 256 + 256 + 256 + 191 bytes)"));
  EXPECT_TRUE(upload.ends_with(": \"" + text + "\"")) << "every byte, in order, then the 00";

  // "pages at 0, 1001, 2002, ... ms": a second's pause after each page. The simulator's clock
  // reads when a page's first byte came in, so a late read on a loaded machine may shorten a
  // gap; a missing pause would leave almost none.
  const std::string pages = upload.substr(upload.find("pages at ") + 9);
  std::istringstream times(pages.substr(0, pages.find(" ms")));
  std::vector<long long> starts;
  for (std::string time; std::getline(times, time, ',');) {
    starts.push_back(std::stoll(time));
  }
  ASSERT_EQ(starts.size(), 8u) << pages;
  for (std::size_t i = 1; i < starts.size(); ++i) {
    EXPECT_GE(starts[i] - starts[i - 1], 750) << "page " << i;
  }
}

TEST_F(Kv58SimTest, PortHeldByAnotherProgramIsRefusedWithStatusOneAndNothingSent) {
  PosixSerialDriver driver(Locations());
  TCOMSocket holder(driver);
  ASSERT_TRUE(holder.SetPortName(kPort) && holder.Open());
  EXPECT_EQ(sim.NextEvent(), "open");

  const auto run = RunProgram({"--port", kPort, "speed", "4"}, config.Path());
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDeviceError);
  EXPECT_EQ(run->err, "kv58: COM7: cannot open the port: another program is using it\n");

  ASSERT_TRUE(holder.Close());
  EXPECT_EQ(sim.NextEvent(), "hangup") << "no frame came in between";
}

TEST_F(Kv58SimTest, UnpluggedInTheMiddleOfATextEndsWithStatusOneNamingThePage) {
  const std::string file = WriteText(std::string(1983, 'x')).string();
  std::thread unplug([this] {
    if (sim.NextEvent() == "open") {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // pages 1 and 2 are out by then
    }
    sim.Signal(SIGKILL);
  });

  const Finished run = Run({"--port", kPort, "send", file, "store"});
  unplug.join();

  EXPECT_EQ(run.status, kExitDeviceError);
  EXPECT_THAT(run.err, ::testing::MatchesRegex(
                           "kv58: COM7: text from .*: page [2-8] of 8 was not sent: the port "
                           "is gone \\(the device was unplugged, or the other end of the line "
                           "closed\\); the display holds the first [1-7] of 8 pages and no end\n"));
  EXPECT_EQ(run.out, "") << "neither the text nor the store is reported sent";
}

TEST_F(Kv58SimTest, PortsListsTheSimulatorWithItsTerminal) {
  const Finished run = Run({"ports"});
  ASSERT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, "COM7    " + pty + "\n");
}

TEST_F(Kv58SimTest, MonitorPrintsWhatTheDeviceSendsUntilInterrupted) {
  sim.Signal(SIGTERM);
  ASSERT_TRUE(sim.WaitForExit().has_value());
  SimProcess talking;
  ASSERT_TRUE(
      talking.Start({"--link", kPort, "--send-hex", "4f 4b 0d 0a 01", "--send-delay", "100"}, config.Path()));
  ASSERT_TRUE(talking.ReadLine() && talking.ReadLine()); // its pty and link lines

  const Finished run = Run({"--port", kPort, "monitor", "--hex"}, std::chrono::seconds(2));

  EXPECT_EQ(run.status, 128 + SIGINT) << run.err; // as Ctrl+C ends it
  EXPECT_EQ(run.out, "4F 4B 0D 0A 01\n");
}

TEST_F(Kv58SimTest, MonitorEndsWithStatusOneWhenTheLineGoesAway) {
  std::thread unplug([this] {
    if (sim.NextEvent() == "open") {
      sim.Signal(SIGKILL);
    }
  });
  const Finished run = Run({"--port", kPort, "monitor"}, sim::test_support::kPatience);
  unplug.join();

  EXPECT_EQ(run.status, kExitDeviceError);
  EXPECT_THAT(run.err, HasSubstr("kv58: COM7: monitor ended: the port is gone"));
}

// The reason comes from the driver, not from whatever the environment left in errno.
TEST_F(Kv58SimTest, PortThatMapsToNoDeviceGetsOneMessageWhateverTheEnvironment) {
  for (const std::vector<std::string>& environment :
       {std::vector<std::string>{"XDG_CONFIG_HOME=" + config.Path().string()}, std::vector<std::string>{},
        std::vector<std::string>{"HOME=" + config.Path().string()}}) {
    Launch launch;
    launch.environment = environment;
    const auto run = RunProgram({"--port", "COM250", "speed", "4"}, config.Path(), launch);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, kExitDeviceError);
    EXPECT_EQ(run->err, "kv58: COM250: cannot open the port: no device has that name (see 'Ports' in kv58 "
                        "--help)\n")
        << ::testing::PrintToString(environment);
  }
}

struct InterruptCase {
  int signal;
  int status;
};

// The display is never left waiting for a terminator: the text ends after the page being
// written, and the display keeps the pages so far as a whole text.
TEST_F(Kv58SimTest, InterruptedTextEndsAfterThePageBeingWrittenWithItsTerminator) {
  for (const InterruptCase c : {InterruptCase{SIGINT, 130}, InterruptCase{SIGTERM, 143}}) {
    const std::string file = WriteText(std::string(1983, 'x')).string();
    Launch launch;
    launch.whileRunning = [&](pid_t pid) {
      if (sim.NextEvent() == "open") {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // pages 1 and 2 are out by then
      }
      kill(pid, c.signal);
    };
    const auto run = RunProgram({"--port", kPort, "send", file, "store"}, config.Path(), launch);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, c.status);
    EXPECT_THAT(run->err, ::testing::MatchesRegex("\nkv58: stopping once what is being sent has ended.*\n"
                                                  "kv58: COM7: text from .*: interrupted: the display shows "
                                                  "the first [2-4] of 8 pages\n"))
        << "the request is answered at once, the account at the end";
    const std::string upload = sim.NextEvent();
    const std::string pages = run->err.substr(run->err.find("first ") + 6, 1);
    EXPECT_THAT(upload, ::testing::StartsWith("text " + std::to_string(std::stoi(pages) * 256) + " bytes"));
    EXPECT_THAT(upload, HasSubstr(", end at ")) << "the terminator came";
    EXPECT_EQ(sim.NextEvent(), "hangup") << "no store after the interrupt";
  }
}

// A report nobody reads stops none of the device's commands.
TEST_F(Kv58SimTest, ClosedOutputStillSendsEveryCommand) {
  std::array<int, 2> output{};
  ASSERT_EQ(pipe2(output.data(), O_CLOEXEC), 0);
  close(output[0]);
  Launch launch;
  launch.files = [&](posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  };
  const auto run = RunProgram({"--port", kPort, "speed", "4", "store", "reset"}, config.Path(), launch);
  close(output[1]);

  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDone);
  EXPECT_THAT(run->err, HasSubstr("the report could not be written"));
  EXPECT_EQ(sim.NextEvent(), "open");
  EXPECT_EQ(sim.NextEvent(), "speed 4");
  EXPECT_EQ(sim.NextEvent(), "store");
  EXPECT_EQ(sim.NextEvent(), "reset");
}

// std::cin would report these as an empty input, and the display's text would be wiped.
TEST_F(Kv58SimTest, UnreadableStandardInputSendsNothing) {
  const std::vector<std::function<void(posix_spawn_file_actions_t&)>> inputs{
      [](posix_spawn_file_actions_t& actions) { posix_spawn_file_actions_addclose(&actions, STDIN_FILENO); },
      [this](posix_spawn_file_actions_t& actions) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, config.Path().c_str(), O_RDONLY, 0);
      },
      [this](posix_spawn_file_actions_t& actions) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, WriteText("x").c_str(), O_WRONLY, 0);
      }};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    Launch launch;
    launch.files = inputs[i];
    const auto run = RunProgram({"--port", kPort, "send", "-"}, config.Path(), launch);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, kExitUsageError) << "input " << i;
    EXPECT_EQ(run->err, "kv58: standard input cannot be read\n") << "input " << i;
  }
  EXPECT_EQ(Run({"--port", kPort, "store"}).status, kExitDone);
  EXPECT_EQ(sim.NextEvent(), "open") << "no open, and so no text, before this one";
}

} // namespace
} // namespace kv58::cli
