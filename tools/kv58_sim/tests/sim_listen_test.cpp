// The simulator as a device server's address (--listen): which addresses it takes, how its
// RFC 2217 side answers a client, and a client of the test's own talking to the real program.

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "tools/kv58_sim/listen_address.h"
#include "tools/kv58_sim/rfc2217_server.h"
#include "tools/kv58_sim/sim_options.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::sim {
namespace {

using test_support::Clock;
using test_support::kPatience;
using test_support::SimProcess;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Hex(std::string_view hex) { return ParseHexBytes(hex).value_or(""); }

int PortOf(const std::string& url) { return url.empty() ? 0 : std::stoi(url.substr(url.rfind(':') + 1)); }

// A client that connects, sends `bytes` and closes.
bool SendAndClose(int port, const std::string& bytes) {
  const int client = kv58::testing::ConnectToLoopback(port);
  const bool sent = client >= 0 && ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                       static_cast<ssize_t>(bytes.size());
  ::close(client);
  return sent;
}

// The calling thread, and every program it starts, in a network namespace of its own with
// its loopback up, for the object's life: its traffic can be dropped, and an address other
// computers could reach is reachable by none.
class OwnNetwork {
public:
  OwnNetwork() : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (home_ < 0 || ::unshare(CLONE_NEWNET) != 0) {
      why = std::string("cannot make a network namespace (it takes root): ") + std::strerror(errno);
    } else if (std::system("/usr/sbin/ip link set lo up") != 0) {
      why = "cannot bring up the loopback of its network namespace (no /usr/sbin/ip?)";
    }
  }
  ~OwnNetwork() {
    if (home_ >= 0) {
      (void)::setns(home_, CLONE_NEWNET);
      ::close(home_);
    }
  }
  OwnNetwork(const OwnNetwork&) = delete;
  OwnNetwork& operator=(const OwnNetwork&) = delete;

  std::string why; // empty when the namespace is there

private:
  int home_;
};

struct AddressCase {
  const char* text;
  std::optional<std::string> url; // as printed; none when refused
};

class ListenAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ListenAddressTest, ReadsTheUrlOrRefusesIt) {
  const std::optional<ListenAddress> address = ParseListenAddress(GetParam().text);
  EXPECT_EQ(address ? std::optional(NetworkPortName(*address)) : std::nullopt, GetParam().url);
  if (!GetParam().url) {
    const CommandLine line = ParseCommandLine(std::vector<std::string_view>{"--listen", GetParam().text});
    EXPECT_EQ(line.action, CommandLine::Action::Fail);
    EXPECT_THAT(line.error, HasSubstr(ListenAddressRule()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ListenAddressTest,
    ::testing::Values(
        AddressCase{"rfc2217://127.0.0.1:4001", "rfc2217://127.0.0.1:4001"},
        AddressCase{"tcp://127.0.0.1:0", "tcp://127.0.0.1:0"},
        AddressCase{"socket://localhost:65535", "tcp://localhost:65535"},
        AddressCase{"rfc2217://:4001", "rfc2217://127.0.0.1:4001"},
        AddressCase{"tcp://[::1]:4001", "tcp://[::1]:4001"},
        AddressCase{"RFC2217://127.0.0.1:4001", "rfc2217://127.0.0.1:4001"},
        AddressCase{"tcp://[localhost]:4001", std::nullopt}, AddressCase{"tcp://[a%b]:4001", std::nullopt},
        AddressCase{"ftp://127.0.0.1:4001", std::nullopt}, AddressCase{"tcp://127.0.0.1", std::nullopt},
        AddressCase{"tcp://127.0.0.1:", std::nullopt}, AddressCase{"tcp://127.0.0.1:65536", std::nullopt},
        AddressCase{"tcp://127.0.0.1:+80", std::nullopt}, AddressCase{"tcp://::1:4001", std::nullopt},
        AddressCase{"tcp://[]:4001", std::nullopt}, AddressCase{"tcp://user@host:4001", std::nullopt},
        AddressCase{"tcp://127.0.0.1:4001/path", std::nullopt}));

// The client's bytes, and all the server answers to them after its greeting.
struct ExchangeCase {
  const char* label;
  const char* client;  // hex
  const char* answers; // hex
  std::optional<SerialLine> line;
};

class Rfc2217ServerTest : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(Rfc2217ServerTest, AnswersAsADeviceServer) {
  Rfc2217Server server;
  std::string data;
  std::string answers;
  // The client agrees to everything offered, as kv58 does, then says its piece.
  server.Feed(Hex("fffd03 fffb03 fffd00 fffb00 fffb2c"), data, answers);
  ASSERT_EQ(answers, "") << "agreement to an offer is not answered";
  server.Feed(Hex(GetParam().client), data, answers);
  EXPECT_EQ(HexBytes(answers, " "), HexBytes(Hex(GetParam().answers), " "));
  EXPECT_EQ(data, "");
  EXPECT_EQ(server.TakeLineSettings(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, Rfc2217ServerTest,
    ::testing::Values(
        ExchangeCase{"RefusesOtherOptions", "fffd01 fffb18 fffd03", "fffc01 fffe18", std::nullopt},
        ExchangeCase{"TurnsOffWhatIsTurnedOff", "fffe00 fffe00", "fffc00", std::nullopt},
        ExchangeCase{"QueryIsNoSetting", "fffa2c0100000000fff0", "fffa2c6500002580fff0", std::nullopt},
        ExchangeCase{"TheDisplaysLine",
                     "fffa2c0100002580fff0 fffa2c0208fff0 fffa2c0301fff0 fffa2c0401fff0 fffa2c0501fff0",
                     "fffa2c6500002580fff0 fffa2c6608fff0 fffa2c6701fff0 fffa2c6801fff0 fffa2c6901fff0",
                     SerialLine{9600, 8, 1, 1}},
        // 0xFF in a value travels doubled both ways: 16777215 is 00 FF FF FF.
        ExchangeCase{"DoubledValues",
                     "fffa2c0100ffffffffffff fff0 fffa2c0207fff0 fffa2c0303fff0 fffa2c0403fff0",
                     "fffa2c6500ffffffffffff fff0 fffa2c6607fff0 fffa2c6703fff0 fffa2c6803fff0",
                     SerialLine{16777215, 7, 3, 3}},
        ExchangeCase{"OutOfRangeKeepsTheValue", "fffa2c0209fff0 fffa2c0300fff0",
                     "fffa2c6608fff0 fffa2c6701fff0", std::nullopt},
        ExchangeCase{"ControlGroupsAnswerTheirOwnQuery",
                     "fffa2c0508fff0 fffa2c0503fff0 fffa2c0507fff0 fffa2c0500fff0",
                     "fffa2c6908fff0 fffa2c6903fff0 fffa2c6908fff0 fffa2c6903fff0", std::nullopt}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(Rfc2217ServerDataTest, DoubledFfIsOneByteAndTheGreetingComesFirst) {
  Rfc2217Server server;
  EXPECT_EQ(HexBytes(server.Greeting(), " "), "ff fb 03 ff fd 03 ff fb 00 ff fd 00 ff fd 2c");
  std::string data;
  std::string answers;
  server.Feed(Hex("ffff07 41ff"), data, answers);
  server.Feed(Hex("ff 0d00"), data, answers);
  EXPECT_EQ(data, Hex("ff07 41ff 0d00"));
  EXPECT_EQ(Rfc2217Server::ToClient(Hex("ff06")), Hex("ffff06"));
}

// The real program, a client of the test's own: the greeting, what it pushes and replies
// with 0xFF doubled, the line the client set, and the events as JSON lines.
TEST(SimListenEndToEndTest, ServesARawTelnetClient) {
  testing::ScratchDir config;
  SimProcess sim;
  ASSERT_TRUE(
      sim.Start({"--json", "--listen", "rfc2217://127.0.0.1:0", "--reply", "ff06", "--send-hex", "41ff"},
                config.Path()));
  const std::string first = sim.ReadLine().value_or("");
  ASSERT_THAT(first, StartsWith(R"({"t_ms":0,"event":"listening","url":"rfc2217://127.0.0.1:)"));
  const int port = std::stoi(first.substr(first.rfind(':') + 1));

  const int client = kv58::testing::ConnectToLoopback(port);
  ASSERT_GE(client, 0);
  const auto receive = [client](std::size_t count) {
    std::string received;
    const auto deadline = Clock::now() + kPatience;
    while (received.size() < count && test_support::WaitReadable(client, deadline)) {
      std::array<char, 256> chunk{};
      const ssize_t got = ::recv(client, chunk.data(), count - received.size(), 0);
      if (got <= 0) {
        break;
      }
      received.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return HexBytes(received, " ");
  };
  EXPECT_EQ(receive(15), "ff fb 03 ff fd 03 ff fb 00 ff fd 00 ff fd 2c");
  EXPECT_EQ(receive(3), "41 ff ff") << "pushed at the first client, 0xFF doubled";
  EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr(R"("event":"open")"));

  const std::string settings = Hex("fffb2c fffd03 fffb03 fffd00 fffb00 fffa2c0100012c00fff0 fffa2c0208fff0 "
                                   "fffa2c0302fff0 fffa2c0402fff0 ffff0307");
  ASSERT_EQ(::send(client, settings.data(), settings.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(settings.size()));
  EXPECT_EQ(receive(10 + 3 * 7 + 3),
            "ff fa 2c 65 00 01 2c 00 ff f0 ff fa 2c 66 08 ff f0 ff fa 2c 67 02 ff f0 ff fa "
            "2c 68 02 ff f0 ff ff 06");
  EXPECT_THAT(sim.ReadLine().value_or(""),
              HasSubstr(R"("event":"line","baud":76800,"data_bits":8,"parity":"odd","stop_bits":"2"})"));
  EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr(R"("event":"speed","value":7})"));
  ::close(client);
  EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr(R"("event":"hangup")"));
}

// Refused before anything is opened, with the usage error's status.
TEST(SimListenEndToEndTest, BadAddressesEndWithStatusTwo) {
  testing::ScratchDir config;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--listen", "tcp://127.0.0.1:99999"},
                                               {"--listen", "serial://COM1"},
                                               {"--listen", "tcp://127.0.0.1:0", "--link", "COM7"},
                                               {"--listen"}}) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start(args, config.Path()));
    EXPECT_EQ(sim.WaitForExit(), 2) << args.back();
    EXPECT_EQ(sim.ReadLine(), std::nullopt) << "nothing printed on standard output";
  }
}

} // namespace
} // namespace kv58::sim

namespace kv58::sim {
namespace {

// A display behind a device server never sees a client leave: a text the first client left
// open takes the next client's bytes, and a retry that sends the whole text again lands
// inside it, marker and code as text.
TEST(SimListenEndToEndTest, ATextLeftOpenByOneClientGoesOnWithTheNext) {
  testing::ScratchDir config;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0"}, config.Path()));
  const int port = PortOf(sim.ReadListeningUrl());
  ASSERT_NE(port, 0);

  ASSERT_TRUE(SendAndClose(port, Hex("ff07") + "first half, "));
  EXPECT_EQ(sim.NextEvent(), "open");
  EXPECT_EQ(sim.NextEvent(),
            "connection closed mid-text (12 bytes of it so far): the display waits for the rest and its 00");
  EXPECT_EQ(sim.NextEvent(), "hangup");

  ASSERT_TRUE(SendAndClose(port, Hex("ff07") + "whole text" + std::string(1, '\0')));
  EXPECT_EQ(sim.NextEvent(), "open");
  const std::string text = sim.NextEvent();
  EXPECT_THAT(text, StartsWith("text 24 bytes over 2 connections, "));
  EXPECT_THAT(text, EndsWith(R"(: "first half, \xff\x07whole text")"));
  EXPECT_EQ(sim.NextEvent(), "hangup");
}

// A client that floods the display with garbage: the output keeps to a fraction of it, says
// what it left out, and Ctrl+C still ends the simulator at once.
TEST(SimListenEndToEndTest, AFloodIsSummedUpAndCtrlCStillEndsIt) {
  testing::ScratchDir config;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0"}, config.Path()));
  const int client = kv58::testing::ConnectToLoopback(PortOf(sim.ReadListeningUrl()));
  ASSERT_GE(client, 0);
  const timeval patience{1, 0};
  (void)::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> sent{0};
  std::thread flood([&] {
    std::string garbage;
    for (int i = 0; i < 64 * 1024; ++i) {
      garbage.push_back(static_cast<char>(i * 7));
    }
    while (!stop) {
      const ssize_t count = ::send(client, garbage.data(), garbage.size(), MSG_NOSIGNAL);
      if (count < 0 && errno != EAGAIN) {
        break;
      }
      sent += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
  });

  constexpr std::size_t kFloodBytes = std::size_t{4} * 1024 * 1024;
  std::size_t printed = 0;
  bool summed = false;
  const auto take = [&](const std::string& line) {
    printed += line.size() + 1;
    summed = summed || line.find("] not shown: ") != std::string::npos;
  };
  while (sent < kFloodBytes) {
    const std::optional<std::string> line = sim.ReadLine();
    ASSERT_TRUE(line.has_value());
    take(*line);
  }
  sim.Signal(SIGINT);
  const auto signalled = Clock::now();
  std::string last;
  while (Clock::now() < signalled + std::chrono::seconds(5)) {
    const std::optional<std::string> line = sim.ReadLine(std::chrono::seconds(1));
    if (!line) {
      break;
    }
    take(*line);
    last = *line;
  }
  const std::optional<int> status = sim.WaitForExit();
  const auto ended = Clock::now() - signalled;
  stop = true;
  flood.join();
  ::close(client);
  EXPECT_EQ(status, 0);
  EXPECT_LT(ended, std::chrono::seconds(3)) << "the flood held up Ctrl+C";
  EXPECT_THAT(last, HasSubstr("exit (SIGINT)"));
  EXPECT_TRUE(summed) << "a line says what was left out";
  EXPECT_LT(printed, sent / 8) << printed << " bytes printed for " << sent << " received";
}

struct FileLimitCase {
  const char* label;
  int addresses;
  rlim_t softLimit;
  rlim_t hardLimit;
  bool served; // or refused at start, saying why
};

void PrintTo(const FileLimitCase& row, std::ostream* os) { *os << row.label; }

class SimFileLimitTest : public ::testing::TestWithParam<FileLimitCase> {};

// Every address holds its listener and a client: as many as fit in the open-file limit (raised
// to the hard limit) are served, the last one too; more are refused at start with the reason.
TEST_P(SimFileLimitTest, ManyAddressesAreServedOrRefusedWithTheReason) {
  const FileLimitCase& row = GetParam();
  rlimit own{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max < row.hardLimit) {
    GTEST_SKIP() << "the hard limit of open files here is below " << row.hardLimit;
  }
  testing::ScratchDir config;
  SimProcess sim("/usr/bin/prlimit");
  sim.ReadErrorsToo();
  std::vector<std::string> args{
      "--nofile=" + std::to_string(row.softLimit) + ":" + std::to_string(row.hardLimit), KV58_SIM_PATH};
  for (int i = 0; i < row.addresses; ++i) {
    args.insert(args.end(), {"--listen", "tcp://127.0.0.1:0"});
  }
  ASSERT_TRUE(sim.Start(args, config.Path()));
  if (!row.served) {
    EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr("cannot listen on " + std::to_string(row.addresses) +
                                                       " addresses: they need about "));
    EXPECT_EQ(sim.WaitForExit(), 1);
    return;
  }
  std::string url;
  for (int i = 0; i < row.addresses; ++i) {
    url = sim.ReadListeningUrl();
    ASSERT_THAT(url, StartsWith("tcp://127.0.0.1:"));
  }
  ASSERT_TRUE(SendAndClose(PortOf(url), Hex("ff08")));
  EXPECT_EQ(sim.NextEvent(), url + " open");
  EXPECT_EQ(sim.NextEvent(), url + " store");
}

INSTANTIATE_TEST_SUITE_P(Limits, SimFileLimitTest,
                         ::testing::Values(FileLimitCase{"FitUnderTheLimit", 400, 1024, 1024, true},
                                           FileLimitCase{"FitOnceTheLimitIsRaised", 512, 1024, 4096, true},
                                           FileLimitCase{"CannotFit", 512, 1024, 1024, false}),
                         [](const auto& row) { return std::string(row.param.label); });

// A client whose link dies without a FIN or a reset (here: nothing reaches 127.0.0.1 any more)
// leaves the address free for the next client within 30 s.
TEST(SimListenNamespaceTest, AClientThatVanishesFreesTheAddressWithinThirtySeconds) {
  const OwnNetwork network;
  if (!network.why.empty()) {
    GTEST_SKIP() << network.why;
  }
  testing::ScratchDir config;
  SimProcess sim;
  sim.ReadErrorsToo();
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0"}, config.Path()));
  const int port = PortOf(sim.ReadListeningUrl());
  const int vanishing = kv58::testing::ConnectToLoopback(port);
  ASSERT_GE(vanishing, 0);
  EXPECT_EQ(sim.NextEvent(), "open");

  // A rule ahead of the local table sends everything for 127.0.0.1 into a black hole.
  ASSERT_EQ(std::system("/usr/sbin/ip rule del pref 0 && /usr/sbin/ip rule add pref 100 table local && "
                        "/usr/sbin/ip rule add pref 50 to 127.0.0.1 blackhole"),
            0);
  const auto vanished = Clock::now();
  std::string line;
  while (Clock::now() < vanished + std::chrono::seconds(40) && !line.ends_with("] hangup")) {
    line = sim.ReadLine(std::chrono::seconds(40)).value_or("");
  }
  const auto freed = Clock::now() - vanished;
  ASSERT_EQ(std::system("/usr/sbin/ip rule del pref 50"), 0);
  EXPECT_THAT(line, EndsWith("] hangup"));
  EXPECT_LT(freed, std::chrono::seconds(30));

  ASSERT_TRUE(SendAndClose(port, Hex("ff09")));
  EXPECT_EQ(sim.NextEvent(), "open") << "the next client has the display";
  EXPECT_EQ(sim.NextEvent(), "reset");
  ::close(vanishing);
}

// An address that other computers reach is warned about at start (in a namespace of the
// test's own, so that no other computer does); loopback is not.
TEST(SimListenNamespaceTest, AnAddressOpenToOtherComputersIsWarnedAbout) {
  const OwnNetwork network;
  if (!network.why.empty()) {
    GTEST_SKIP() << network.why;
  }
  testing::ScratchDir config;
  SimProcess sim;
  sim.ReadErrorsToo();
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0", "--listen", "tcp://0.0.0.0:0"}, config.Path()));
  EXPECT_THAT(sim.ReadListeningUrl(), StartsWith("tcp://127.0.0.1:"));
  EXPECT_THAT(sim.ReadListeningUrl(), StartsWith("tcp://0.0.0.0:"));
  const std::string warning = sim.ReadLine().value_or("");
  EXPECT_THAT(warning, StartsWith("kv58-sim: warning: tcp://0.0.0.0:"));
  EXPECT_THAT(warning, HasSubstr("anyone who can reach it can drive the display"));
  EXPECT_EQ(sim.ReadLine(std::chrono::milliseconds(500)), std::nullopt) << "one warning, for that address";
}

} // namespace
} // namespace kv58::sim
