// TLS with SChannel, through StartTls: against scripted servers that answer the first
// message wrongly, and against the host's ser2net with certificates that scripts/test-windows
// makes (its `ssl` accepters echo what they receive). Under Wine SChannel speaks TLS 1.2.

#include "serial/tls_stream.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "common/stop_request.h"
#include "serial/socket_stream.h"
#include "serial/tests/test_support_win32.h"

namespace kv58 {
namespace {

using Kind = OpenFailure::Kind;
using std::chrono::milliseconds;

// A server that answers the client's first message with `answer` once, then stays silent;
// or closes (`closes`). What the client sent is kept.
class ScriptedServer final : public ByteStream {
public:
  ScriptedServer(std::string answer, bool closes, std::string& sent)
      : answer_(std::move(answer)), closes_(closes), sent_(sent) {}

  bool SendAll(std::string_view bytes, SteadyClock::time_point /*deadline*/) override {
    sent_.append(bytes);
    return !closes_;
  }
  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    if (closes_) {
      return false;
    }
    if (!answered_ && !sent_.empty() && !answer_.empty()) {
      answered_ = true;
      into += answer_;
      return true;
    }
    std::this_thread::sleep_until(std::min(deadline, SteadyClock::now() + milliseconds(50)));
    return true;
  }
  bool WaitAcknowledged(SteadyClock::time_point /*deadline*/) override { return true; }

private:
  std::string answer_;
  bool closes_;
  std::string& sent_;
  bool answered_ = false;
};

NetworkPort TlsPort(std::string host, std::uint16_t port, TlsSettings settings = {}) {
  NetworkPort network(NetworkPort::Mode::Raw, std::move(host), port);
  network.tls = true;
  network.tlsSettings = std::move(settings);
  return network;
}

TEST(TlsStreamWin32Test, AServerThatAnswersTheClientHelloWronglyFailsWithTheKindThatNamesTheCause) {
  const std::string telnetGreeting("\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01", 9);
  const std::string handshakeFailure("\x15\x03\x03\x00\x02\x02\x28", 7); // fatal alert 40
  // A ServerHello, then a Certificate whose one entry holds Ed25519's object identifier.
  const std::string serverHello = std::string("\x02\x00\x00\x26\x03\x03", 6) + std::string(32, '\x11') +
                                  std::string("\x00\xC0\x2F\x00", 4);
  const std::string ed25519Certificate("\x0B\x00\x00\x0D\x00\x00\x0A\x00\x00\x07\x30\x05\x06\x03\x2B\x65\x70",
                                       17);
  const std::string ed25519Server = std::string("\x16\x03\x03\x00", 4) +
                                    static_cast<char>(serverHello.size() + ed25519Certificate.size()) +
                                    serverHello + ed25519Certificate;
  const struct {
    const char* name;
    std::string answer;
    bool closes;
    bool stopRequested;
    Kind kind;
    const char* says;
  } cases[] = {
      {"an RFC 2217 port in clear", telnetGreeting, false, false, Kind::TlsPlainServer,
       "display.example:4001 speaks Telnet without TLS: use rfc2217://display.example:4001"},
      {"a raw port in clear", "login: ", false, false, Kind::TlsPlainServer,
       "display.example:4001 answers without TLS: use tcp://display.example:4001"},
      {"a port another client holds", "Port already in use\r\n", false, false, Kind::InUse,
       "display.example:4001 is in use by another client"},
      {"a server with no algorithm Windows offers", handshakeFailure, false, false, Kind::TlsUnsupportedKey,
       "the server's key is likely Ed25519"},
      {"a server with an Ed25519 certificate", ed25519Server, false, false, Kind::TlsUnsupportedKey,
       "the server's key is Ed25519 (the default of ser2net's key tool), which Windows cannot use; make an "
       "EC "
       "(P-256) key instead: gtlssh-keygen --algorithm ec"},
      {"a server that closes",
       {},
       true,
       false,
       Kind::TlsFailed,
       "display.example:4001 closed the connection during the TLS handshake"},
      {"a silent server",
       {},
       false,
       false,
       Kind::NoAnswer,
       "no answer to the TLS handshake from display.example:4001 within 3 s (a raw TCP port without TLS "
       "stays "
       "silent: then use tcp://display.example:4001)"},
      {"a stop while waiting",
       {},
       false,
       true,
       Kind::Interrupted,
       "interrupted during the TLS handshake with display.example:4001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string sent;
    if (c.stopRequested) {
      RequestStop(StopLevel::Finish);
    }
    OpenFailure failure;
    const auto stream =
        StartTls(std::make_unique<ScriptedServer>(c.answer, c.closes, sent), TlsPort("display.example", 4001),
                 SteadyClock::now() + milliseconds(600), failure);
    ClearStopRequest();
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_NE(failure.detail.find(c.says), std::string::npos) << failure.detail;
    ASSERT_GE(sent.size(), 6u);
    EXPECT_EQ(sent.substr(0, 2), std::string("\x16\x03", 2)) << "the first record is a handshake record";
  }
}

// A client certificate that cannot be used fails before a byte goes to the server.
TEST(TlsStreamWin32Test, AClientCertificateThatCannotBeUsedFailsBeforeTheHandshake) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathA(MAX_PATH, folder), 0u);
  const std::string notPfx = std::string(folder) + "kv58-tls-not-a-pfx.pem";
  std::ofstream(notPfx) << "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
  const struct {
    const char* name;
    std::string cert;
    std::string key;
    std::string says;
  } cases[] = {
      {"a key file beside it", "client.pfx", "client.key", "key= is not used on Windows"},
      {"a file that is not there", std::string(folder) + "kv58-tls-missing.pfx", "",
       "the client certificate file " + std::string(folder) + "kv58-tls-missing.pfx cannot be read"},
      {"a PEM file", notPfx, "", "is not a PFX file"},
      {"a thumbprint that is no SHA-1", "store:12ab", "", "wants the certificate's SHA-1 thumbprint"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string sent;
    TlsSettings settings;
    settings.certFile = c.cert;
    settings.keyFile = c.key;
    OpenFailure failure;
    const auto stream =
        StartTls(std::make_unique<ScriptedServer>("", false, sent), TlsPort("127.0.0.1", 4001, settings),
                 SteadyClock::now() + milliseconds(600), failure);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(failure.kind, Kind::TlsFailed);
    EXPECT_NE(failure.detail.find(c.says), std::string::npos) << failure.detail;
    EXPECT_EQ(sent, "");
  }
  std::remove(notPfx.c_str());
}

// The host's ser2net: "rsa=PORT p256=PORT ..." and the folder of the certificates.
constexpr const char* kTlsServersVariable = "KV58_TEST_TLS_SERVERS";
constexpr const char* kTlsFilesVariable = "KV58_TEST_TLS_FILES";

std::uint16_t ServerPort(const std::string& servers, const std::string& name) {
  std::istringstream words(servers);
  std::string word;
  while (words >> word) {
    if (word.compare(0, name.size() + 1, name + "=") == 0) {
      return static_cast<std::uint16_t>(std::stoi(word.substr(name.size() + 1)));
    }
  }
  return 0;
}

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// `text` sent, and all of it echoed back, in reads of at most kMaxChunkBytes.
::testing::AssertionResult EchoesByteForByte(ByteStream& stream, const std::string& text) {
  if (!stream.SendAll(text, SteadyClock::now() + milliseconds(3000))) {
    return ::testing::AssertionFailure() << "SendAll failed";
  }
  std::string echoed;
  const auto deadline = SteadyClock::now() + milliseconds(5000);
  while (echoed.size() < text.size() && SteadyClock::now() < deadline) {
    const std::size_t before = echoed.size();
    if (!stream.Receive(echoed, deadline)) {
      return ::testing::AssertionFailure() << "closed after " << echoed.size() << " bytes";
    }
    if (echoed.size() - before > ByteStream::kMaxChunkBytes) {
      return ::testing::AssertionFailure() << "one read handed out " << echoed.size() - before << " bytes";
    }
  }
  if (echoed != text) {
    return ::testing::AssertionFailure()
           << echoed.size() << " of " << text.size() << " bytes came back as sent";
  }
  return ::testing::AssertionSuccess();
}

// The display's longest text: every byte value, 0xFF and 0x0D among them.
std::string LongestText() {
  std::string text;
  for (int i = 0; text.size() < 1983; ++i) {
    text.push_back(static_cast<char>(i % 256));
  }
  return text;
}

// The host's ser2net with certificates that scripts/test-windows made; skipped without it.
class TlsServerWin32Test : public ::testing::Test {
protected:
  void SetUp() override {
    const auto servers = testing::EnvironmentText(kTlsServersVariable);
    const auto files = testing::EnvironmentText(kTlsFilesVariable);
    if (!servers || !files) {
      GTEST_SKIP() << kTlsServersVariable << " and " << kTlsFilesVariable
                   << " are not set: scripts/test-windows sets them to ser2net's TLS ports on the host";
    }
    servers_ = *servers;
    dir_ = *files + "\\";
  }

  [[nodiscard]] std::string File(const char* name) const { return dir_ + name; }
  [[nodiscard]] std::string Pin(const char* name) const { return FirstLine(dir_ + name + ".sha256"); }

  // The TLS stream to `server` as `settings` say, or none with the reason in `failure`.
  std::unique_ptr<ByteStream> Open(const char* server, const TlsSettings& settings,
                                   OpenFailure& failure) const {
    const NetworkPort network = TlsPort("127.0.0.1", ServerPort(servers_, server), settings);
    auto tcp = SocketConnector()(network, kNetworkStepTimeout, failure);
    return tcp == nullptr
               ? nullptr
               : StartTls(std::move(tcp), network, SteadyClock::now() + kNetworkStepTimeout, failure);
  }

private:
  std::string servers_;
  std::string dir_;
};

TlsSettings Settings(std::string pin, std::string ca = {}, std::string name = {}, std::string cert = {}) {
  return {std::move(pin), std::move(ca), std::move(name), std::move(cert), {}};
}

TEST_F(TlsServerWin32Test, TheDeviceServersPortsAreTrustedAsTheSettingsSayAndCarryBytesIntact) {
  const std::string rsa = Pin("rsa");
  ASSERT_EQ(rsa.size(), 64u);
  const bool wine = testing::RunningUnderWine();
  const struct {
    const char* name;
    const char* server;
    TlsSettings settings;
    Kind kind;
    const char* says;
  } cases[] = {
      {"the pinned certificate", "rsa", Settings(rsa), Kind::None, ""},
      {"another certificate than the pinned one", "rsa", Settings(std::string(64, 'a')), Kind::TlsPinMismatch,
       "other than the pinned one"},
      {"an IP literal in a certificate of the CA file's CA", "p256", Settings("", File("ca.crt")), Kind::None,
       ""},
      {"the expected name", "p256", Settings("", File("ca.crt"), "localhost"), Kind::None, ""},
      {"a name the certificate does not carry", "p256", Settings("", File("ca.crt"), "other.example"),
       Kind::TlsNameMismatch, "is not for other.example"},
      {"a CA file of another CA", "p256", Settings("", File("rsa.crt")), Kind::TlsUntrusted, "?pin="},
      {"a server the system's store does not know", "p256", Settings(""), Kind::TlsUntrusted, "?pin="},
      {"a server that wants a client certificate", "clientauth", Settings(rsa), Kind::TlsClientCertRequired,
       "wants a client certificate"},
      {"a client certificate from a PFX file", "clientauth", Settings(rsa, "", "", File("client.pfx")),
       Kind::None, ""},
      {"a client certificate the server does not allow", "clientauth",
       Settings(rsa, "", "", File("stranger.pfx")), Kind::TlsClientCertRequired,
       "refused the client certificate"},
      {"an RFC 2217 port in clear", "telnet", Settings(rsa), Kind::TlsPlainServer, "speaks Telnet"},
      // Wine's SChannel takes Ed25519 keys; Windows' does not.
      {"an Ed25519 key", "ed25519", Settings(Pin("ed25519")), wine ? Kind::None : Kind::TlsUnsupportedKey,
       wine ? "" : "gtlssh-keygen --algorithm ec"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenFailure failure;
    const auto stream = Open(c.server, c.settings, failure);
    EXPECT_EQ(failure.kind, c.kind) << failure.detail;
    EXPECT_NE(failure.detail.find(c.says), std::string::npos) << failure.detail;
    ASSERT_EQ(stream == nullptr, c.kind != Kind::None);
    if (stream != nullptr) {
      EXPECT_TRUE(EchoesByteForByte(*stream, LongestText()));
    }
  }
}

TEST_F(TlsServerWin32Test, ManyRecordsComeBackInBoundedReads) {
  OpenFailure failure;
  const auto stream = Open("rsa", Settings(Pin("rsa")), failure);
  ASSERT_NE(stream, nullptr) << failure.detail;
  std::string text;
  for (int i = 0; i < 40000; ++i) {
    text.push_back(static_cast<char>((i * 7) % 251));
  }
  EXPECT_TRUE(EchoesByteForByte(*stream, text));
}

TEST_F(TlsServerWin32Test, TheServersCloseEndsTheStreamAfterWhatItSent) {
  // This port closes the connection after a second of silence, with close_notify.
  OpenFailure failure;
  const auto stream = Open("closing", Settings(Pin("rsa")), failure);
  ASSERT_NE(stream, nullptr) << failure.detail;
  EXPECT_TRUE(EchoesByteForByte(*stream, "\xFF\x0D last words"));
  std::string after;
  bool open = true;
  const auto deadline = SteadyClock::now() + milliseconds(5000);
  while (open && SteadyClock::now() < deadline) {
    open = stream->Receive(after, deadline);
  }
  EXPECT_FALSE(open) << "the stream stayed open";
  EXPECT_EQ(after, "");
  EXPECT_FALSE(stream->Receive(after, SteadyClock::now())) << "a closed stream opened again";
}

} // namespace
} // namespace kv58
