// The simulator as a device server's address (--listen): which addresses it takes, how its
// RFC 2217 side answers a client, and a client of the test's own talking to the real program.

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <numeric>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/own_network.h"
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

// A display behind a device server never sees a client leave: a text the first client left
// open takes the next client's bytes, marker and code as text.
TEST(SimListenEndToEndTest, ATextLeftOpenByOneClientGoesOnWithTheNext) {
  testing::ScratchDir config;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0"}, config.Path()));
  const int port = PortOf(sim.ReadListeningUrl());
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
}

// A client floods the display with garbage: the output keeps to a fraction of it and says what
// it left out, and Ctrl+C still ends the simulator within a few seconds.
TEST(SimListenEndToEndTest, AFloodIsSummedUpAndCtrlCStillEndsIt) {
  testing::ScratchDir config;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--listen", "tcp://127.0.0.1:0"}, config.Path()));
  const int client = kv58::testing::ConnectToLoopback(PortOf(sim.ReadListeningUrl()));
  ASSERT_GE(client, 0);
  const timeval patience{1, 0}; // the flood sees `stop` even if the simulator stops reading
  (void)::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> sent{0};
  std::thread flood([&] {
    std::string garbage(std::size_t{64} * 1024, '\0');
    std::iota(garbage.begin(), garbage.end(), '\0'); // markers, codes and strays
    for (ssize_t count = 0; !stop && (count >= 0 || errno == EAGAIN);) {
      count = ::send(client, garbage.data(), garbage.size(), MSG_NOSIGNAL);
      sent += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
  });

  std::size_t printed = 0;
  bool summed = false;
  std::string last;
  std::optional<Clock::time_point> signalled;
  for (std::optional<std::string> line;
       (line = sim.ReadLine()) && (!signalled || Clock::now() < *signalled + std::chrono::seconds(5));) {
    printed += line->size() + 1;
    summed = summed || line->find("] not shown: ") != std::string::npos;
    last = *line;
    if (!signalled && sent >= std::size_t{4} * 1024 * 1024) {
      sim.Signal(SIGINT);
      signalled = Clock::now();
    }
  }
  const std::optional<int> status = sim.WaitForExit();
  const auto ended = Clock::now();
  stop = true;
  flood.join();
  ::close(client);
  ASSERT_TRUE(signalled.has_value()) << "the output stopped before 4 MiB were sent";
  EXPECT_EQ(status, 0);
  EXPECT_LT(ended - *signalled, std::chrono::seconds(3)) << "the flood held up Ctrl+C";
  EXPECT_THAT(last, HasSubstr("exit (SIGINT)"));
  EXPECT_TRUE(summed) << "a line says what was left out";
  EXPECT_LT(printed, sent / 8) << printed << " bytes printed for " << sent << " received";
}

struct FileLimitCase {
  const char* label;
  rlim_t hardLimit; // the soft one is 1024
  bool served;      // or refused at start, saying why
};

void PrintTo(const FileLimitCase& row, std::ostream* os) { *os << row.label; }

class SimFileLimitTest : public ::testing::TestWithParam<FileLimitCase> {};

// 512 addresses, each with its listener and a client, do not fit in 1024 open files: they are
// served once the limit is raised to a hard limit that allows them, or refused with the reason.
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
  std::vector<std::string> args{"--nofile=1024:" + std::to_string(row.hardLimit), KV58_SIM_PATH};
  for (int i = 0; i < 512; ++i) {
    args.insert(args.end(), {"--listen", "tcp://127.0.0.1:0"});
  }
  ASSERT_TRUE(sim.Start(args, config.Path()));
  if (!row.served) {
    EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr("cannot listen on 512 addresses: they need about "));
    EXPECT_EQ(sim.WaitForExit(), 1);
    return;
  }
  std::string url;
  for (int i = 0; i < 512; ++i) {
    url = sim.ReadListeningUrl();
    ASSERT_THAT(url, StartsWith("tcp://127.0.0.1:"));
  }
  ASSERT_TRUE(SendAndClose(PortOf(url), Hex("ff08")));
  EXPECT_EQ(sim.NextEvent(), url + " open");
  EXPECT_EQ(sim.NextEvent(), url + " store");
}

INSTANTIATE_TEST_SUITE_P(Limits, SimFileLimitTest,
                         ::testing::Values(FileLimitCase{"Refused", 1024, false},
                                           FileLimitCase{"ServedOnceTheLimitIsRaised", 4096, true}),
                         [](const auto& row) { return std::string(row.param.label); });

// The simulator in a network namespace of the test's own (it takes root), its errors read too.
class SimListenNamespaceTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!network.why.empty()) {
      GTEST_SKIP() << network.why;
    }
    sim.ReadErrorsToo();
  }

  const kv58::testing::OwnNetwork network;
  testing::ScratchDir config;
  SimProcess sim;
};

// A client whose link dies without a FIN or a reset (here: nothing reaches 127.0.0.1 any more)
// leaves the address free for the next client within 30 s.
TEST_F(SimListenNamespaceTest, AClientThatVanishesFreesTheAddressWithinThirtySeconds) {
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
  ::close(vanishing);
}

// An address that other computers reach is warned about at start (none can here).
TEST_F(SimListenNamespaceTest, AnAddressOpenToOtherComputersIsWarnedAbout) {
  ASSERT_TRUE(sim.Start({"--listen", "tcp://0.0.0.0:0"}, config.Path()));
  EXPECT_THAT(sim.ReadListeningUrl(), StartsWith("tcp://0.0.0.0:"));
  const std::string warning = sim.ReadLine().value_or("");
  EXPECT_THAT(warning, StartsWith("kv58-sim: warning: tcp://0.0.0.0:"));
  EXPECT_THAT(warning, HasSubstr("anyone who can reach it can drive the display"));
}

} // namespace
} // namespace kv58::sim
