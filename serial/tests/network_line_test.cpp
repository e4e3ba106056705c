// The RFC 2217 line against a scripted device server: what it does when the server holds
// back the display's bytes with FLOWCONTROL-SUSPEND.

#include <gtest/gtest.h>

#include "serial/network_line.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const std::string kAgreed = "\xFF\xFD\x2C\xFF\xFB\x00\xFF\xFD\x00"s; // DO COM-PORT, WILL and DO BINARY
const std::string kRateQueryStart = "\xFF\xFA\x2C\x01";
const std::string kRateAnswer = "\xFF\xFA\x2C\x65\x00\x00\x25\x80\xFF\xF0"s;
const std::string kSuspend = "\xFF\xFA\x2C\x6C\xFF\xF0";
const std::string kResume = "\xFF\xFA\x2C\x6D\xFF\xF0";

// Answers the negotiation at once and every query of the rate; says what the test gives it.
class ScriptedServer final : public ByteStream {
public:
  bool SendAll(std::string_view bytes, SteadyClock::time_point /*deadline*/) override {
    fromClient.append(bytes);
    if (bytes.starts_with(kRateQueryStart)) {
      toClient += kRateAnswer;
    }
    return true;
  }
  bool Receive(std::string& into, SteadyClock::time_point /*deadline*/) override {
    into += toClient;
    toClient.clear();
    return true;
  }
  bool WaitAcknowledged(SteadyClock::time_point /*deadline*/) override { return true; }

  std::string toClient = kAgreed;
  std::string fromClient;
};

TEST(NetworkLineTest, AServerHoldingBackTheBytesTimesTheWriteOutButKeepsTheLine) {
  ScriptedServer* server = nullptr;
  const StreamConnector connect = [&server](const NetworkPort&, std::chrono::milliseconds, std::string&) {
    auto stream = std::make_unique<ScriptedServer>();
    server = stream.get();
    return std::unique_ptr<ByteStream>(std::move(stream));
  };
  std::string error;
  const auto line =
      NetworkLine::Open(NetworkPort{NetworkPort::Mode::Rfc2217, "device-server", 4001}, connect, error);
  ASSERT_NE(line, nullptr) << error;

  server->toClient = kSuspend;
  EXPECT_EQ(line->Write("x", SteadyClock::now() + 20ms), 0u);
  EXPECT_TRUE(line->Alive()) << "held back is not gone";
  EXPECT_EQ(server->fromClient.find('x'), std::string::npos) << "nothing sent while suspended";

  server->toClient = kResume;
  EXPECT_EQ(line->Write("x", SteadyClock::now() + 1s), 1u);
  EXPECT_NE(server->fromClient.find("x" + kRateQueryStart), std::string::npos)
      << "the byte, then the query whose answer says the server has it";
}

} // namespace
} // namespace kv58
