// The network line's policy against a scripted device server: what each kind of server makes
// of the opening, how writes fare when bytes are held back, and what a stop makes of each step.

#include "serial/network_line.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

#include "common/stop_request.h"
#include "serial/socket_stream.h"

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Kind = OpenFailure::Kind;

const std::string kAgreed = "\xFF\xFD\x2C\xFF\xFB\x00\xFF\xFD\x00"s; // DO COM-PORT, WILL and DO BINARY
const std::string kRateQueryStart = "\xFF\xFA\x2C\x01";
const std::string kRateAnswer = "\xFF\xFA\x2C\x65\x00\x00\x25\x80\xFF\xF0"s;
const std::string kSuspend = "\xFF\xFA\x2C\x6C\xFF\xF0";
const std::string kResume = "\xFF\xFA\x2C\x6D\xFF\xF0";
const std::string kInUse = "Port already in use\r\n";

// Gives the client what the test scripted, then waits as a quiet socket would; answers every
// query of the rate unless told not to.
class ScriptedServer final : public ByteStream {
public:
  bool SendAll(std::string_view bytes, SteadyClock::time_point /*deadline*/) override {
    fromClient->append(bytes);
    if (answersRate && bytes.starts_with(kRateQueryStart)) {
      toClient += kRateAnswer;
    }
    return true;
  }
  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    if (toClient.empty()) {
      if (closesWhenDrained) {
        return false;
      }
      std::this_thread::sleep_until(deadline);
      return true;
    }
    const std::size_t count = std::min(toClient.size(), kMaxChunkBytes);
    into += toClient.substr(0, count);
    toClient.erase(0, count);
    return true;
  }
  bool WaitAcknowledged(SteadyClock::time_point /*deadline*/) override { return true; }

  std::string toClient;
  // Kept by the test too: a line that fails to open takes its server with it.
  std::shared_ptr<std::string> fromClient = std::make_shared<std::string>();
  bool answersRate = true;
  bool closesWhenDrained = false;
};

struct Opened {
  std::unique_ptr<NetworkLine> line;
  ScriptedServer* server = nullptr; // only while the line stands
  std::shared_ptr<std::string> fromClient;
  OpenFailure failure;
};

Opened OpenAgainst(NetworkPort::Mode mode, const std::string& greeting, bool closes = false) {
  Opened opened;
  const StreamConnector connect = [&](const NetworkPort&, std::chrono::milliseconds, OpenFailure&) {
    auto stream = std::make_unique<ScriptedServer>();
    stream->toClient = greeting;
    stream->closesWhenDrained = closes;
    opened.server = stream.get();
    opened.fromClient = stream->fromClient;
    return std::unique_ptr<ByteStream>(std::move(stream));
  };
  opened.line = NetworkLine::Open(NetworkPort{mode, "device-server", 4001}, connect, opened.failure);
  return opened;
}

struct OpeningCase {
  const char* label;
  NetworkPort::Mode mode;
  std::string greeting;
  bool closes;
  Kind kind; // None: the line opens
  const char* says;
};

TEST(NetworkLineTest, EachKindOfServerIsToldApartWhenTheLineOpens) {
  using Mode = NetworkPort::Mode;
  const OpeningCase cases[] = {
      {"agrees", Mode::Rfc2217, kAgreed, false, Kind::None, ""},
      {"raw bytes at rfc2217", Mode::Rfc2217, "hello", false, Kind::WrongMode,
       "so use tcp://device-server:4001"},
      {"busy at rfc2217", Mode::Rfc2217, kInUse, true, Kind::InUse, "in use by another client"},
      {"busy after agreeing", Mode::Rfc2217, kAgreed + kInUse, true, Kind::InUse, "in use by another client"},
      {"COM-PORT refused", Mode::Rfc2217, "\xFF\xFE\x2C"s, false, Kind::Unsupported,
       "refuses COM-PORT-OPTION"},
      {"BINARY refused", Mode::Rfc2217, "\xFF\xFD\x2C\xFF\xFC\x00"s, false, Kind::Unsupported,
       "BINARY both ways"},
      // An RFC 2217 server speaks first; one that closes before any byte acts as a TLS port does.
      {"closes at once", Mode::Rfc2217, "", true, Kind::TlsExpected,
       "device-server:4001 may expect TLS: rfc2217+tls://device-server:4001"},
      {"closes after speaking", Mode::Rfc2217, "\xFF\xFB\x03"s, true, Kind::Lost, "closed the connection"},
      // Silence proves no raw port: a slow server is silent too, and a retry may find it ready.
      {"silent at rfc2217", Mode::Rfc2217, "", false, Kind::NoAnswer,
       "no Telnet negotiation from device-server:4001 within 3 s (a raw TCP port stays silent: then use "
       "tcp://device-server:4001; so does a port that expects TLS: rfc2217+tls://device-server:4001)"},
      {"silent after speaking", Mode::Rfc2217, "\xFF\xFB\x03"s, false, Kind::NoAnswer,
       "no answer to WILL COM-PORT-OPTION"},
      {"silent raw", Mode::Raw, "", false, Kind::None, ""},
      {"Telnet at tcp", Mode::Raw, "\xFF\xFB\x03\xFF\xFD\x2C"s, false, Kind::WrongMode, "so use rfc2217://"},
      {"busy at tcp", Mode::Raw, kInUse, true, Kind::InUse, "the server said \"Port already in use\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Opened opened = OpenAgainst(c.mode, c.greeting, c.closes);
    EXPECT_EQ(opened.line != nullptr, c.kind == Kind::None);
    EXPECT_EQ(opened.failure.kind, c.kind);
    EXPECT_NE(opened.failure.detail.find(c.says), std::string::npos) << opened.failure.detail;
    if (c.mode == Mode::Raw || c.greeting.empty() || c.kind == Kind::WrongMode) {
      EXPECT_EQ(*opened.fromClient, "") << "no Telnet bytes on what may be the display's line";
    }
  }
}

TEST(NetworkLineTest, AConnectionThatCannotBeMadeNamesTheServer) {
  const StreamConnector refuse = [](const NetworkPort&, std::chrono::milliseconds, OpenFailure& failure) {
    failure = {Kind::Refused, "Connection refused"};
    return std::unique_ptr<ByteStream>();
  };
  OpenFailure failure;
  EXPECT_EQ(NetworkLine::Open(NetworkPort{NetworkPort::Mode::Raw, "::1", 7001}, refuse, failure), nullptr);
  EXPECT_EQ(failure.kind, Kind::Refused);
  EXPECT_EQ(failure.detail, "cannot connect to [::1]:7001: Connection refused");
}

TEST(NetworkLineTest, LineSettingsWithoutAnAnswerFailAndSayWhy) {
  const Opened opened = OpenAgainst(NetworkPort::Mode::Rfc2217, kAgreed);
  ASSERT_NE(opened.line, nullptr);
  opened.server->answersRate = false;
  std::string note;
  EXPECT_FALSE(opened.line->ApplyLineSettings(9600, note));
  EXPECT_EQ(note, "no answer to SET-BAUDRATE from device-server:4001 within 3 s");
  const auto start = SteadyClock::now();
  EXPECT_FALSE(opened.line->Drain(start + 3s)) << "as closing a device port drains first";
  opened.line->Finish();
  EXPECT_LT(SteadyClock::now() - start, 1500ms) << "no second wait for the answer that never came";
}

TEST(NetworkLineTest, AFloodKeepsTheNewestBytesWithinTheBound) {
  const Opened opened = OpenAgainst(NetworkPort::Mode::Raw, "");
  ASSERT_NE(opened.line, nullptr);
  opened.server->toClient = std::string(NetworkLine::kMaxReceivedBytes, 'o') + "newest";
  while (!opened.server->toClient.empty()) {
    (void)opened.line->Available();
  }
  ASSERT_EQ(opened.line->Available(), NetworkLine::kMaxReceivedBytes);
  std::string kept(NetworkLine::kMaxReceivedBytes, '\0');
  ASSERT_EQ(opened.line->Read(kept.data(), static_cast<std::uint32_t>(kept.size())), kept.size());
  EXPECT_TRUE(kept.ends_with("newest"));
}

TEST(NetworkLineTest, AServerThatStopsAcknowledgingCountsAsGone) {
  const Opened opened = OpenAgainst(NetworkPort::Mode::Rfc2217, kAgreed);
  ASSERT_NE(opened.line, nullptr);
  opened.server->answersRate = false;
  EXPECT_EQ(opened.line->Write("page", SteadyClock::now() + 1s), 4u) << "the bytes went out";
  EXPECT_FALSE(opened.line->Drain(SteadyClock::now() + 50ms));
  EXPECT_FALSE(opened.line->Alive()) << "the rest of an upload fails at once";
  EXPECT_EQ(opened.line->Write("next", SteadyClock::now() + 1s), 0u);
  EXPECT_EQ(opened.line->StepFailure().kind, Kind::NoAnswer) << "the server closed nothing";
  EXPECT_EQ(opened.line->StepFailure().detail, "no acknowledgement from device-server:4001 within 50 ms");
}

TEST(NetworkLineTest, AServerHoldingBackTheBytesTimesTheWriteOutButKeepsTheLine) {
  const Opened opened = OpenAgainst(NetworkPort::Mode::Rfc2217, kAgreed);
  ASSERT_NE(opened.line, nullptr) << opened.failure.detail;
  ScriptedServer& server = *opened.server;

  server.toClient = kSuspend;
  EXPECT_EQ(opened.line->Write("x", SteadyClock::now() + 20ms), 0u);
  EXPECT_TRUE(opened.line->Alive()) << "held back is not gone";
  EXPECT_EQ(server.fromClient->find('x'), std::string::npos) << "nothing sent while suspended";

  server.toClient = kResume;
  EXPECT_EQ(opened.line->Write("x", SteadyClock::now() + 1s), 1u);
  EXPECT_TRUE(opened.line->Drain(SteadyClock::now() + 1s));
  EXPECT_NE(server.fromClient->find("x" + kRateQueryStart), std::string::npos)
      << "the byte, then the query whose answer says the server has it";
}

constexpr auto kStopAfter = 100ms;

// Runs `step` while the user asks to stop kStopAfter into it; the request is cleared after.
void StopDuring(const std::function<void()>& step) {
  std::thread asker([] {
    std::this_thread::sleep_for(kStopAfter);
    RequestStop(StopLevel::Finish);
  });
  step();
  asker.join();
  ClearStopRequest();
}

StreamConnector Scripted(const std::string& greeting, bool answersRate = true) {
  return [=](const NetworkPort&, std::chrono::milliseconds, OpenFailure&) {
    auto stream = std::make_unique<ScriptedServer>();
    stream->toClient = greeting;
    stream->answersRate = answersRate;
    return std::unique_ptr<ByteStream>(std::move(stream));
  };
}

#if !defined(_WIN32)
// A listener whose queue is full: its host drops further connection requests, as an
// unreachable host would.
struct FullListener {
  FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    fds.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(::bind(fds[0], reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(fds[0], 0) + ::getsockname(fds[0], reinterpret_cast<sockaddr*>(&address), &length), 0);
    for (int i = 0; i < 4; ++i) {
      fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
      (void)::connect(fds.back(), reinterpret_cast<sockaddr*>(&address), length);
    }
    std::this_thread::sleep_for(100ms);
    port = ntohs(address.sin_port);
  }
  ~FullListener() { std::ranges::for_each(fds, ::close); }
  std::vector<int> fds;
  std::uint16_t port = 0;
};
#endif

TEST(NetworkLineTest, AStopDuringAStepOfTheOpenIsAnInterruptionAtOnceAndClaimsNoTimeOut) {
  using Mode = NetworkPort::Mode;
  BoundedCallPool lookUps(1, [](const std::function<void()>&) { return true; }); // never answer
#if !defined(_WIN32)
  const FullListener full;
#endif
  const struct {
    Mode mode;
    const char* host;
    std::uint16_t port;
    StreamConnector connect;
    bool settings; // the line opens, and the stop comes while its settings go unanswered
    const char* says;
  } cases[] = {
    {Mode::Rfc2217, "Display-7.invalid", 4001, SocketConnector(lookUps), false,
     "interrupted while looking up Display-7.invalid"},
#if !defined(_WIN32) // an address needs no look-up
    {Mode::Rfc2217, "127.0.0.1", full.port, SocketConnector(lookUps), false,
     "interrupted while connecting to 127.0.0.1:"},
#endif
    {Mode::Rfc2217, "device-server", 4001, Scripted(""), false,
     "interrupted during the Telnet negotiation with device-server:4001"},
    {Mode::Raw, "device-server", 4001, Scripted(""), false,
     "interrupted while watching for the greeting of device-server:4001"},
    {Mode::Rfc2217, "device-server", 4001, Scripted(kAgreed, false), true,
     "interrupted while setting the line of device-server:4001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    OpenFailure failure;
    std::unique_ptr<NetworkLine> line;
    if (c.settings) {
      line = NetworkLine::Open({c.mode, c.host, c.port}, c.connect, failure);
      ASSERT_NE(line, nullptr) << failure.detail;
    }
    const auto start = SteadyClock::now();
    StopDuring([&] {
      std::string note;
      if (!c.settings) {
        line = NetworkLine::Open({c.mode, c.host, c.port}, c.connect, failure);
      } else if (!line->ApplyLineSettings(9600, note)) {
        failure = line->StepFailure();
      }
    });
    EXPECT_LT(SteadyClock::now() - start, kStopAfter + kGraceAfterStop) << "ended without the grace";
    EXPECT_EQ(failure.kind, Kind::Interrupted);
    EXPECT_EQ(failure.detail.find(c.says), 0u) << failure.detail;
    EXPECT_EQ(failure.detail.find("within"), std::string::npos) << failure.detail;
  }
}

// Told apart from a drain whose bound ran out (AServerThatStopsAcknowledgingCountsAsGone).
TEST(NetworkLineTest, ADrainCutShortByAStopSaysSoAndKeepsTheLine) {
  const Opened opened = OpenAgainst(NetworkPort::Mode::Rfc2217, kAgreed);
  ASSERT_NE(opened.line, nullptr);
  opened.server->answersRate = false;
  ASSERT_EQ(opened.line->Write("page", SteadyClock::now() + 1s), 4u);
  StopDuring([&] { EXPECT_FALSE(opened.line->Drain(SteadyClock::now() + 3s)); });
  EXPECT_EQ(opened.line->StepFailure().kind, Kind::Interrupted);
  EXPECT_EQ(opened.line->StepFailure().detail,
            "interrupted while waiting for an acknowledgement from device-server:4001");
  EXPECT_TRUE(opened.line->Alive()) << "a stop says nothing of the server";
}

} // namespace
} // namespace kv58
