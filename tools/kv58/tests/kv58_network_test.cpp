// kv58 through a real device server: ser2net on 127.0.0.1 in front of the simulator, as
// rfc2217:// and as tcp://. What arrives at the display, byte for byte, and how each way of
// getting the mode or the server wrong is said.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "protocol/device_command.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/tests/delay_proxy.h"
#include "tools/kv58/tests/program_run.h"
#include "tools/kv58/tests/quiet_child.h"
#include "tools/kv58/tests/ser2net_process.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::cli {
namespace {

using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using test_support::RunProgram;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using test_support::Connect;
using test_support::FreePort;
using test_support::kSer2net;
using test_support::Ser2net;

// A hostile server of the test's own: it sends `chunk` over and over, as fast as the link
// takes it, to each client, until it is destroyed.
class FloodingServer {
public:
  explicit FloodingServer(std::string chunk) : chunk_(std::move(chunk)) {
    const kv58::testing::Listener listener = kv58::testing::ListenOnLoopback();
    listener_ = listener.fd;
    port_ = listener.port;
    if (listener_ >= 0) {
      thread_ = std::thread([this] { Serve(); });
    }
  }
  ~FloodingServer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) {
      thread_.join();
    }
    ::close(listener_);
  }
  FloodingServer(const FloodingServer&) = delete;
  FloodingServer& operator=(const FloodingServer&) = delete;

  [[nodiscard]] int Port() const { return port_; }

private:
  void Serve() {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    while (client >= 0 && !stop_ && ::send(client, chunk_.data(), chunk_.size(), MSG_NOSIGNAL) > 0) {
    }
    ::close(client);
  }

  std::string chunk_;
  int port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The resident memory of a running process, in KiB, from /proc; 0 when it cannot be read.
long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) {
      return std::stol(line.substr(6));
    }
  }
  return 0;
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine (256 MB) and adds its shadow: the bound then
// only shows that memory stops growing, as it did not (gigabytes) before reads were bounded.
constexpr long kResidentBoundKib = 512 * 1024;
#else
constexpr long kResidentBoundKib = 64 * 1024;
#endif

class Kv58NetworkTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access(kSer2net, X_OK) != 0) {
      GTEST_SKIP() << "ser2net is not installed (scripts/test installs it)";
    }
    const auto rawPty = rawSim.StartLinked("COM7", config.Path());
    const auto telnetPty = telnetSim.StartLinked("COM8", config.Path());
    ASSERT_TRUE(rawPty && telnetPty);
    server =
        std::make_unique<Ser2net>(config, std::vector<Ser2net::Line>{{false, *rawPty}, {true, *telnetPty}});
    ASSERT_TRUE(server->Listening());
    rawPort = server->ports[0];
    telnetPort = server->ports[1];
  }

  [[nodiscard]] static std::string Url(const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  }

  std::optional<test_support::Finished> Kv58(const std::vector<std::string>& args,
                                             const test_support::Launch& launch = {}) {
    return RunProgram(args, config.Path(), launch);
  }

  ScratchDir config;
  SimProcess rawSim;
  SimProcess telnetSim;
  std::unique_ptr<Ser2net> server;
  int rawPort = 0;
  int telnetPort = 0;
};

// Every command, and a text holding 0xFF (Telnet's command byte), CR and a doubled 0xFF.
TEST_F(Kv58NetworkTest, EveryCommandArrivesByteForByteInBothModes) {
  const std::string text = "Hi \xFF there\r\n\xFF\xFF\x01 end";
  const auto file = config.Write("text.txt", text);
  struct Mode {
    std::string url;
    SimProcess* sim;
  };
  for (const Mode& mode :
       {Mode{Url("rfc2217", telnetPort), &telnetSim}, Mode{Url("tcp", rawPort), &rawSim}}) {
    SCOPED_TRACE(mode.url);
    const auto run = Kv58({"--port", mode.url, "-q", "speed", "4", "lines", "3", "9", "scroll", "horizontal",
                           "send", file.string(), "store", "reset"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, kExitDone) << run->err;
    EXPECT_EQ(run->err,
              mode.url.starts_with("tcp")
                  ? "kv58: " + mode.url +
                        ": tcp:// carries no line settings: the device server's own apply, not 9600 "
                        "bit/s; and pauses count from the server's system, so a stalled server can "
                        "bunch pages (rfc2217:// keeps them)\n"
                  : "")
        << "said once, and only where the settings could not be sent";
    std::vector<std::string> events;
    for (int i = 0; i < 10; ++i) {
      events.push_back(mode.sim->NextEvent());
    }
    EXPECT_THAT(events[7], StartsWith("text 19 bytes, page at "));
    EXPECT_THAT(events[7], HasSubstr(": \"Hi \\xff there\\r\\n\\xff\\xff\\x01 end\""));
    events[7] = "text";
    EXPECT_THAT(events,
                ::testing::ElementsAre("open", "speed 4", "last-line 22", "first-line 3", "last-line 9",
                                       "scroll-type 2 (horizontal)", "reset", "text", "store", "reset"));
  }
}

// Nothing a wrong mode sends may pass for success, and each is named in words.
TEST_F(Kv58NetworkTest, WrongModesAndABusyPortAreNamed) {
  const int holder = Connect(rawPort); // another client on the raw port
  ASSERT_GE(holder, 0);
  EXPECT_EQ(rawSim.NextEvent(), "open");
  struct Case {
    std::string url;
    const char* says;
  };
  const Case cases[] = {
      {Url("tcp", telnetPort), "speaks Telnet: it is an RFC 2217 port, so use rfc2217://"},
      {Url("tcp", rawPort), "is in use by another client (the server said \"Port already in use\")"},
      {Url("rfc2217", FreePort()), "cannot connect to 127.0.0.1:"},
  };
  for (const Case& c : cases) {
    const auto run = Kv58({"--port", c.url, "speed", "4"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, kExitDeviceError) << c.url;
    EXPECT_THAT(run->err, HasSubstr(c.says)) << c.url;
  }
  ::close(holder);
}

// A server that accepts and then says nothing: the step and the host are named, and the
// open gives up after its bounded wait rather than hanging.
TEST_F(Kv58NetworkTest, ASilentServerGivesTheNamedStepsError) {
  const kv58::testing::Listener listener = kv58::testing::ListenOnLoopback();
  ASSERT_GE(listener.fd, 0);
  const int port = listener.port;

  const auto run = Kv58({"--port", Url("rfc2217", port), "speed", "4"});
  ::close(listener.fd);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDeviceError);
  EXPECT_THAT(run->err, HasSubstr("no Telnet negotiation from 127.0.0.1:" + std::to_string(port)));
}

// The server gone mid-upload: the next page fails, and nothing not sent is reported sent.
TEST_F(Kv58NetworkTest, AServerKilledMidUploadFailsTheUpload) {
  const auto file = config.Write("long.txt", std::string(1983, 'x'));
  test_support::Launch launch;
  launch.whileRunning = [this](pid_t) {
    if (telnetSim.NextEvent() == "open") {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // two pages are out by then
    }
    server->Stop(SIGKILL);
  };
  const auto run = Kv58({"--port", Url("rfc2217", telnetPort), "send", file.string(), "store"}, launch);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDeviceError);
  EXPECT_THAT(run->err, ::testing::MatchesRegex(".*page [2-8] of 8 was not sent.*\n"));
}

// A server that stops answering mid-upload holds up no request to stop: the text gets its end
// as far as the connection takes it, and kv58 ends as interrupted, not as failed.
TEST_F(Kv58NetworkTest, AStopIsHonouredWhileTheServerHasStoppedAnswering) {
  const auto file = config.Write("long.txt", std::string(1983, 'x'));
  test_support::Launch launch;
  launch.whileRunning = [this](pid_t pid) {
    if (telnetSim.NextEvent() == "open") {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    server->Signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(pid, SIGINT);
  };
  const auto run = Kv58({"--port", Url("rfc2217", telnetPort), "send", file.string(), "store"}, launch);
  server->Signal(SIGCONT);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, 130);
  EXPECT_THAT(run->err, HasSubstr(": interrupted: "));
}

// A device server a round trip away (25 ms each way, as to another site): each frame's bytes
// still reach the display together, so a display that drops a frame broken by a short silence
// (here 20 ms) loses none, and the pause before a reset is still whole at the display.
TEST_F(Kv58NetworkTest, FramesArriveWholeFromADeviceServerARoundTripAway) {
  SimProcess strictSim;
  const auto pty = strictSim.StartLinked("COM9", config.Path(), {"--frame-timeout", "20"});
  ASSERT_TRUE(pty.has_value());
  for (const bool telnet : {true, false}) {
    SCOPED_TRACE(telnet ? "rfc2217" : "tcp");
    Ser2net distantServer(config, {{telnet, *pty}});
    ASSERT_TRUE(distantServer.Listening());
    const test_support::DelayProxy proxy(distantServer.ports[0], std::chrono::milliseconds(25));
    ASSERT_NE(proxy.Port(), 0);
    const auto run = Kv58({"--port", Url(telnet ? "rfc2217" : "tcp", proxy.Port()), "-q", "speed", "4",
                           "lines", "3", "9", "scroll", "horizontal", "store"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, kExitDone) << run->err;
    std::vector<std::string> lines;
    std::vector<std::string> events;
    while (lines.size() < 8) {
      lines.push_back(strictSim.ReadLine().value_or("(no line)"));
      const std::size_t close = lines.back().find("] ");
      events.push_back(close == std::string::npos ? lines.back() : lines.back().substr(close + 2));
    }
    EXPECT_THAT(events,
                ::testing::ElementsAre("open", "speed 4", "last-line 22", "first-line 3", "last-line 9",
                                       "scroll-type 2 (horizontal)", "reset", "store"));
    const auto millis = [](const std::string& line) { return std::stoll(line.substr(1)); };
    if (telnet) { // on tcp:// the pause counts from the first system that took the bytes (here the proxy's)
      EXPECT_GE(millis(lines[6]) - millis(lines[5]), std::int64_t{kScrollTypeResetPauseMs})
          << "the pause is whole at the display";
    }
    EXPECT_EQ(strictSim.NextEvent(), "hangup");
  }
}

// A server that floods: what the display sent beyond the port's bound is dropped and said once,
// and kv58 keeps to a bounded memory. The figure for longer floods is in bench/.
TEST_F(Kv58NetworkTest, AFloodingServerKeepsKv58sMemoryBounded) {
  const FloodingServer flood(std::string(64 * 1024, 'x'));
  long largest = 0;
  test_support::Launch launch;
  launch.whileRunning = [&largest](pid_t pid) {
    for (int sample = 0; sample < 20; ++sample) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      largest = std::max(largest, ResidentKib(pid));
    }
    ::kill(pid, SIGINT);
  };
  const auto run = Kv58({"--port", Url("tcp", flood.Port()), "monitor"}, launch);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, 128 + SIGINT) << "monitor ends on Ctrl+C, as the shell reports it: " << run->err;
  EXPECT_GT(largest, 0);
  EXPECT_LT(largest, kResidentBoundKib);
  EXPECT_THAT(run->err, HasSubstr("received bytes were lost"));
  const auto said = run->err.find("received bytes were lost");
  EXPECT_EQ(run->err.find("received bytes were lost", said + 1), std::string::npos) << "said once";
}

// A storm of Telnet commands during the negotiation: each is answered or dropped as it is read,
// the memory stays bounded, and the step still ends at its bound with the step named.
TEST_F(Kv58NetworkTest, ACommandStormLeavesTheNegotiationsBoundInPlace) {
  std::string storm;
  for (int i = 0; i < 4096; ++i) {
    storm += "\xFF\xFB\x03"; // WILL SUPPRESS-GO-AHEAD, over and over
  }
  const FloodingServer stormy(storm);
  long largest = 0;
  test_support::Launch launch;
  launch.whileRunning = [&largest](pid_t pid) {
    while (::kill(pid, 0) == 0 && ResidentKib(pid) > 0) {
      largest = std::max(largest, ResidentKib(pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  };
  const auto run = Kv58({"--port", Url("rfc2217", stormy.Port()), "speed", "4"}, launch);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDeviceError);
  EXPECT_THAT(run->err, HasSubstr("no answer to WILL COM-PORT-OPTION"));
  EXPECT_LT(largest, kResidentBoundKib);
}

// A server that listens only a moment after kv58 first knocks (its previous client not yet
// gone, a power blip) is tried again; a refused one is given up after its tries; every report
// line is JSON that a reader parses, with the fields scripts rely on.
TEST_F(Kv58NetworkTest, AFleetWithRetriesReportsEachDisplayAsJson) {
  const int latePort = FreePort();
  std::thread lateServer([latePort] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int listener = kv58::testing::ListenOnLoopback(latePort).fd;
    if (listener < 0) {
      return;
    }
    const int client = ::accept(listener, nullptr, nullptr);
    std::array<char, 256> sink{};
    while (client >= 0 && ::read(client, sink.data(), sink.size()) > 0) {
    }
    ::close(client);
    ::close(listener);
  });
  const auto file =
      config.Write("ports.txt", "served " + Url("rfc2217", telnetPort) + "\nrefused " +
                                    Url("tcp", FreePort()) + "\nlate " + Url("tcp", latePort) + "\n");
  test_support::Launch launch;
  launch.files = [this](posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (config.Path() / "report.jsonl").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  };
  const auto run = Kv58({"--ports-file", file.string(), "--json", "--retries", "2", "store"}, launch);
  lateServer.join();
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDeviceError);
  std::ifstream report(config.Path() / "report.jsonl");
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(report, line);) {
    lines.push_back(nlohmann::json::parse(line)); // throws, failing the test, on anything but JSON
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["name"], "served");
  EXPECT_EQ(lines[0]["status"], "done");
  EXPECT_FALSE(lines[0].contains("kind"));
  EXPECT_EQ(lines[0]["attempts"], 1);
  EXPECT_EQ(lines[1]["status"], "not-reachable");
  EXPECT_EQ(lines[1]["kind"], "refused");
  EXPECT_EQ(lines[1]["attempts"], 3) << "the first try and two more";
  EXPECT_EQ(lines[2]["status"], "done");
  EXPECT_EQ(lines[2]["attempts"], 2);
  EXPECT_EQ(lines[2]["port"], Url("tcp", latePort));
  EXPECT_TRUE(lines[2]["notes"].is_array());
  EXPECT_TRUE(lines[2]["seconds"].is_number());
}

// Many plain TCP sinks, served by a child process of their own with the hard limit of open
// files; the ports they listen on come back through a pipe.
class ManySinks {
public:
  explicit ManySinks(std::size_t count) {
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ends[0]);
      Serve(count, ends[1]);
      ::_exit(0);
    }
    ::close(ends[1]);
    ports.resize(count);
    std::size_t got = 0;
    const auto bytes = std::as_writable_bytes(std::span(ports));
    while (got < bytes.size()) {
      const ssize_t count_read = ::read(ends[0], bytes.data() + got, bytes.size() - got);
      if (count_read <= 0) {
        ports.clear();
        break;
      }
      got += static_cast<std::size_t>(count_read);
    }
    ::close(ends[0]);
  }
  ~ManySinks() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      (void)::waitpid(pid_, nullptr, 0);
    }
  }
  ManySinks(const ManySinks&) = delete;
  ManySinks& operator=(const ManySinks&) = delete;

  std::vector<int> ports;

private:
  static void Serve(std::size_t count, int report) {
    rlimit files{};
    (void)::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    (void)::setrlimit(RLIMIT_NOFILE, &files);
    std::vector<pollfd> watched;
    for (std::size_t i = 0; i < count; ++i) {
      const kv58::testing::Listener listener = kv58::testing::ListenOnLoopback();
      (void)!::write(report, &listener.port, sizeof listener.port);
      watched.push_back(pollfd{listener.fd, POLLIN, 0});
    }
    ::close(report);
    const std::size_t listeners = watched.size();
    std::array<char, 256> sink{};
    while (::poll(watched.data(), watched.size(), -1) > 0) {
      for (std::size_t i = 0; i < watched.size(); ++i) {
        if ((watched[i].revents & POLLIN) == 0) {
          continue;
        }
        if (i < listeners) {
          watched.push_back(pollfd{::accept(watched[i].fd, nullptr, nullptr), POLLIN, 0});
        } else if (::read(watched[i].fd, sink.data(), sink.size()) <= 0) {
          ::close(watched[i].fd);
          watched[i].fd = -1;
        }
      }
    }
  }

  pid_t pid_ = -1;
};

// At the usual soft limit of 1024 open files, a fleet larger than the limit runs to its end:
// kv58 raises its limit as far as the system allows.
TEST_F(Kv58NetworkTest, AFleetLargerThanTheSoftLimitOfOpenFilesRunsToItsEnd) {
  rlimit files{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  constexpr rlim_t kUsualSoftLimit = 1024;
  constexpr std::size_t kDisplays = 1100;
  if (files.rlim_max < kDisplays + 200) {
    GTEST_SKIP() << "the hard limit of open files is below a fleet of " << kDisplays;
  }
  const ManySinks sinks(kDisplays);
  ASSERT_EQ(sinks.ports.size(), kDisplays);
  std::string list;
  for (const int port : sinks.ports) {
    list += Url("tcp", port) + "\n";
  }
  const auto file = config.Write("ports.txt", list);
  rlimit usual = files;
  usual.rlim_cur = kUsualSoftLimit; // inherited by kv58
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &usual), 0);
  test_support::Launch launch;
  launch.files = [this](posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (config.Path() / "report.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  };
  const auto run = Kv58({"--ports-file", file.string(), "--quiet", "store"}, launch);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDone) << run->err.substr(0, 2000);
  std::ifstream report(config.Path() / "report.txt");
  std::size_t done = 0;
  for (std::string line; std::getline(report, line);) {
    done += line.ends_with(": done") ? 1U : 0U;
  }
  EXPECT_EQ(done, kDisplays);
}

// Eight displays behind one device server, one of which goes away mid-upload: it alone fails,
// named with how far it got, and the seven others get the whole text.
TEST(Kv58FleetTest, OneDisplayLostLeavesTheOtherSevenComplete) {
  if (::access(kSer2net, X_OK) != 0) {
    GTEST_SKIP() << "ser2net is not installed (scripts/test installs it)";
  }
  constexpr std::size_t kDisplays = 8;
  constexpr std::size_t kLost = 3;
  ScratchDir config;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<Ser2net::Line> lines;
  for (std::size_t i = 0; i < kDisplays; ++i) {
    sims.push_back(std::make_unique<SimProcess>());
    const auto pty = sims.back()->StartLinked("COM" + std::to_string(20 + i), config.Path());
    ASSERT_TRUE(pty.has_value());
    lines.push_back({true, *pty});
  }
  Ser2net server(config, lines);
  ASSERT_TRUE(server.Listening());
  std::string portsFile = "# the hall\n";
  for (std::size_t i = 0; i < kDisplays; ++i) {
    portsFile +=
        "hall-" + std::to_string(i + 1) + "  rfc2217://127.0.0.1:" + std::to_string(server.ports[i]) + "\n";
  }
  const auto file = config.Write("ports.txt", portsFile);
  const std::string text(1983, 'x');
  const auto textFile = config.Write("text.txt", text);

  test_support::Launch launch;
  std::string output; // the closing report
  std::array<int, 2> pipeEnds{};
  ASSERT_EQ(::pipe(pipeEnds.data()), 0);
  launch.files = [&](posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  };
  launch.whileRunning = [&](pid_t) {
    ::close(pipeEnds[1]);
    if (sims[kLost]->NextEvent() == "open") {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // two pages are out by then
    }
    sims[kLost]->Signal(SIGKILL);
  };
  const auto run =
      RunProgram({"--ports-file", file.string(), "send", textFile.string()}, config.Path(), launch);
  std::array<char, 4096> chunk{};
  for (ssize_t got = 0; (got = ::read(pipeEnds[0], chunk.data(), chunk.size())) > 0;) {
    output.append(chunk.data(), static_cast<std::size_t>(got));
  }
  ::close(pipeEnds[0]);

  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDeviceError);
  std::istringstream report(output);
  std::vector<std::string> reportLines;
  for (std::string line; std::getline(report, line);) {
    reportLines.push_back(line);
  }
  ASSERT_EQ(reportLines.size(), kDisplays) << output;
  for (std::size_t i = 0; i < kDisplays; ++i) {
    const std::string who =
        "hall-" + std::to_string(i + 1) + " (rfc2217://127.0.0.1:" + std::to_string(server.ports[i]) + ")";
    if (i == kLost) {
      EXPECT_THAT(reportLines[i], ::testing::StartsWith(who + ": partial: text from "));
      EXPECT_THAT(reportLines[i], ::testing::ContainsRegex(
                                      "page [2-8] of 8 was not sent.*the display holds the first [1-7] of 8 "
                                      "pages and no end"));
      continue;
    }
    EXPECT_EQ(reportLines[i], who + ": done");
    EXPECT_EQ(sims[i]->NextEvent(), "open");
    EXPECT_THAT(sims[i]->NextEvent(), ::testing::EndsWith(": \"" + text + "\""))
        << who << " got the whole text";
  }
}

} // namespace
} // namespace kv58::cli

namespace kv58::cli {
namespace {

struct StopCase {
  const char* label;
  std::vector<std::string> args; // after --port; "SILENT" and "REFUSED" stand for the ports
  int signal;
  std::chrono::milliseconds after;
  std::vector<std::string> reportHas; // in the JSON report, or on standard error without --json
};

void PrintTo(const StopCase& row, std::ostream* os) { *os << row.label; }

class Kv58StopTest : public ::testing::TestWithParam<StopCase> {};

// A stop is a stop, whatever kv58 is waiting for: an RFC 2217 negotiation that a server never
// answers, the wait before a retry. It ends with 128 + the signal, says the display was
// interrupted or not started, and claims no time-out that did not run out.
TEST_P(Kv58StopTest, EndsAsTheSignalAskedAndClaimsNoTimeOut) {
  const StopCase& c = GetParam();
  ScratchDir config;
  const kv58::testing::Listener silent = kv58::testing::ListenOnLoopback(); // accepts, never answers
  ASSERT_GE(silent.fd, 0);
  const int refused = FreePort();
  std::vector<std::string> args;
  for (const std::string& arg : c.args) {
    args.push_back(arg == "SILENT"    ? "rfc2217://127.0.0.1:" + std::to_string(silent.port)
                   : arg == "REFUSED" ? "tcp://127.0.0.1:" + std::to_string(refused)
                                      : arg);
  }
  test_support::Launch launch = test_support::OutputTo(config.Path() / "report.txt");
  launch.whileRunning = [&c](pid_t pid) {
    std::this_thread::sleep_for(c.after);
    ::kill(pid, c.signal);
  };
  const auto run = RunProgram(args, config.Path(), launch);
  ::close(silent.fd);
  ASSERT_TRUE(run.has_value());
  std::ifstream reportFile(config.Path() / "report.txt");
  const std::string report((std::istreambuf_iterator<char>(reportFile)), std::istreambuf_iterator<char>());

  EXPECT_EQ(run->status, 128 + c.signal) << run->err;
  EXPECT_THAT(run->err + report, ::testing::Not(HasSubstr("within")));
  for (const std::string& said : c.reportHas) {
    EXPECT_THAT(run->err + report, HasSubstr(said));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, Kv58StopTest,
    ::testing::Values(StopCase{"NegotiationOfOneDisplay",
                               {"--port", "SILENT", "store"},
                               SIGINT,
                               std::chrono::milliseconds(700),
                               {"interrupted while the port was being opened: nothing was sent"}},
                      StopCase{"NegotiationOfAFleet",
                               {"--port", "SILENT", "--port", "REFUSED", "--json", "store"},
                               SIGTERM,
                               std::chrono::milliseconds(700),
                               {R"("status":"not-started")", R"("status":"not-reachable","kind":"refused")"}},
                      StopCase{
                          "WaitBeforeARetry",
                          {"--port", "REFUSED", "--retries", "3", "--json", "store"},
                          SIGTERM,
                          std::chrono::milliseconds(1500),
                          {R"("status":"interrupted")", "interrupted while waiting to try again, after: "}}),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
} // namespace kv58::cli
