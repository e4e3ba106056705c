// The simulator as a device server's address (--listen): which addresses it takes, how its
// RFC 2217 side answers a client, and a client of the test's own talking to the real program.

#include <arpa/inet.h>
#include <array>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
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
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Hex(std::string_view hex) { return ParseHexBytes(hex).value_or(""); }

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
