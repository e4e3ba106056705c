// kv58 to displays inside TLS: real ser2net ssl accepters on 127.0.0.1, with keys and
// certificates that the test makes with the openssl tool (P-256 and RSA, a CA of its own, an
// expired one, one of an unknown CA). What is trusted, what is refused and in which words,
// and that the display's bytes pass whole.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/tests/program_run.h"
#include "tools/kv58/tests/ser2net_process.h"
#include "tools/kv58/tests/test_certificates.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::cli {
namespace {

using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using test_support::Fingerprint;
using test_support::kSer2net;
using test_support::Output;
using test_support::RunProgram;
using test_support::Ser2net;
using test_support::TlsLayer;
using ::testing::HasSubstr;

class Kv58TlsTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access(kSer2net, X_OK) != 0 || !Output("openssl version")) {
      GTEST_SKIP() << "ser2net or openssl is not installed (scripts/test installs them)";
    }
    ASSERT_TRUE(test_support::MakeCertificates(folder.Path()));
    const auto rfc2217Pty = rfc2217Sim.StartLinked("COM7", folder.Path());
    const auto rawPty = rawSim.StartLinked("COM8", folder.Path());
    ASSERT_TRUE(rfc2217Pty && rawPty);
    server = std::make_unique<Ser2net>(
        folder, std::vector<Ser2net::Line>{
                    {true, *rfc2217Pty, TlsLayer(folder.Path(), "ec")},
                    {false, *rawPty, TlsLayer(folder.Path(), "rsa")},
                    {true, "echo", TlsLayer(folder.Path(), "expired")},
                    {true, "echo", TlsLayer(folder.Path(), "stranger")},
                    // The display's terminal again: the table's connections take turns.
                    {true, *rfc2217Pty, TlsLayer(folder.Path(), "ec", "clientauth,"), Path("auth")},
                    {true, "echo"},
                });
    ASSERT_TRUE(server->Listening());
  }

  [[nodiscard]] std::string At(const char* scheme, std::size_t line, const std::string& query = "") const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(server->ports[line]) + query;
  }

  [[nodiscard]] std::string Path(const std::string& name) const { return (folder.Path() / name).string(); }

  ScratchDir folder;
  SimProcess rfc2217Sim;
  SimProcess rawSim;
  std::unique_ptr<Ser2net> server;
};

enum Line : std::size_t { kEc, kRsaRaw, kExpired, kStranger, kClientAuth, kClear };

struct TrustRow {
  const char* label;
  std::string port;
  std::vector<std::string> options;
  const char* kind; // "" when the display is served
  std::string says;
};

TEST_F(Kv58TlsTest, EachServerIsTrustedOrRefusedInWordsThatNameTheCause) {
  const std::string ca = "ca=" + Path("ca.crt");
  const std::string pin = Fingerprint(folder.Path(), "ec");
  std::string pinHex;
  for (const char c : pin) {
    if (c != ':') {
      pinHex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  const std::string wrongPin = "?pin=SHA256:" + std::string(64, 'a');
  const std::string localhost = "rfc2217+tls://localhost:" + std::to_string(server->ports[kEc]);
  const TrustRow rows[] = {
      {"pin, as openssl prints it", At("rfc2217+tls", kEc, "?pin=" + pin), {}, "", ""},
      {"CA file and an IP literal", At("rfc2217+tls", kEc, "?" + ca), {}, "", ""},
      {"CA file and a host name", localhost + "?" + ca, {}, "", ""},
      {"--tls-ca for a port without options", At("rfc2217+tls", kEc), {"--tls-ca", Path("ca.crt")}, "", ""},
      {"raw bytes, RSA", At("tcp+tls", kRsaRaw, "?" + ca), {}, "", ""},
      {"wrong pin", At("rfc2217+tls", kEc, wrongPin), {}, "tls-pin-mismatch", "possible interception"},
      {"wrong name",
       At("rfc2217+tls", kEc, "?" + ca + "&name=display.example"),
       {},
       "tls-name-mismatch",
       "is not for display.example (it names localhost, 127.0.0.1)"},
      {"no CA vouches", At("rfc2217+tls", kEc), {}, "tls-untrusted", "?pin=SHA256:" + pinHex},
      {"expired", At("rfc2217+tls", kExpired, "?" + ca), {}, "tls-untrusted", "certificate has expired"},
      {"unknown CA",
       At("rfc2217+tls", kStranger, "?" + ca),
       {},
       "tls-untrusted",
       "is not trusted: the CA file"},
      {"client certificate required",
       At("rfc2217+tls", kClientAuth, "?" + ca),
       {},
       "tls-client-cert-required",
       "wants a client certificate"},
      {"client certificate refused",
       At("rfc2217+tls", kClientAuth, "?" + ca),
       {"--tls-cert", Path("stranger.crt"), "--tls-key", Path("stranger.key")},
       "tls-client-cert-required",
       "refused the client certificate"},
      {"a CA file that is not there",
       At("rfc2217+tls", kEc, "?ca=" + Path("none.pem")),
       {},
       "tls-failed",
       "cannot read the CA file " + Path("none.pem") + ": No such file or directory"},
      {"TLS at a Telnet port in clear",
       At("rfc2217+tls", kClear),
       {},
       "tls-plain-server",
       "speaks Telnet without TLS: use " + At("rfc2217", kClear)},
      {"RFC 2217 inside TLS at a raw TLS port",
       At("rfc2217+tls", kRsaRaw, "?" + ca),
       {},
       "no-answer",
       "then use " + At("tcp+tls", kRsaRaw)},
      {"clear RFC 2217 at a TLS port",
       At("rfc2217", kEc),
       {},
       "no-answer",
       "so does a port that expects TLS: " + At("rfc2217+tls", kEc)},
  };
  for (const TrustRow& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<std::string> args{"--json", "--port", row.port};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.insert(args.end(), {"speed", "4"});
    const auto reportFile = folder.Path() / "report.json";
    const auto run = RunProgram(args, folder.Path(), test_support::OutputTo(reportFile));
    ASSERT_TRUE(run.has_value());
    std::ifstream reportText(reportFile);
    const auto report = nlohmann::json::parse(reportText, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run->err;
    const std::string port = row.port.substr(0, row.port.find('?'));
    EXPECT_EQ(report.value("port", ""), port) << "reports show the address without its options";
    if (*row.kind == '\0') {
      EXPECT_EQ(run->status, kExitDone) << report.dump();
      continue;
    }
    EXPECT_EQ(run->status, kExitDeviceError);
    EXPECT_EQ(report.value("kind", ""), row.kind) << report.dump();
    EXPECT_THAT(report.value("message", ""), HasSubstr(row.says));
  }
}

// The longest text, with Telnet's command byte and carriage returns in it, reaches both
// displays byte for byte: RFC 2217 inside TLS and raw bytes inside TLS, at once.
TEST_F(Kv58TlsTest, TheLongestTextPassesWholeInBothModes) {
  std::string text;
  std::string shown; // as the simulator writes it
  for (std::size_t i = 0; i < 1983; ++i) {
    const char c = i % 37 == 5 ? '\xFF' : i % 53 == 7 ? '\r' : static_cast<char>('a' + i % 26);
    text += c;
    shown += c == '\xFF' ? "\\xff" : c == '\r' ? "\\r" : std::string(1, c);
  }
  const auto file = folder.Write("text.txt", text);
  const std::string ca = "?ca=" + Path("ca.crt");
  const auto run = RunProgram({"--port", At("rfc2217+tls", kEc, ca), "--port", At("tcp+tls", kRsaRaw, ca),
                               "-q", "send", file.string()},
                              folder.Path());
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->status, kExitDone) << run->err;
  for (SimProcess* sim : {&rfc2217Sim, &rawSim}) {
    EXPECT_EQ(sim->NextEvent(), "open");
    const std::string upload = sim->NextEvent();
    EXPECT_THAT(upload, HasSubstr("text 1983 bytes"));
    EXPECT_TRUE(upload.ends_with(": \"" + shown + "\"")) << upload;
  }
}

// A server that takes the connection and never answers the handshake: the step is named and
// bounded, and Ctrl+C ends it at once.
TEST(Kv58TlsSilenceTest, AnUnansweredHandshakeIsBoundedAndAStopEndsIt) {
  const kv58::testing::Listener silent = kv58::testing::ListenOnLoopback();
  ASSERT_GE(silent.fd, 0);
  ScratchDir folder;
  const std::string url = "tcp+tls://127.0.0.1:" + std::to_string(silent.port);
  const auto started = std::chrono::steady_clock::now();
  const auto unanswered = RunProgram({"--port", url, "store"}, folder.Path());
  ASSERT_TRUE(unanswered.has_value());
  EXPECT_EQ(unanswered->status, kExitDeviceError);
  EXPECT_THAT(unanswered->err, HasSubstr("no answer to the TLS handshake from 127.0.0.1:" +
                                         std::to_string(silent.port) + " within 3 s"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6)) << "bounded by its step";

  test_support::Launch launch;
  launch.whileRunning = [](pid_t pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGINT);
  };
  const auto stopAsked = std::chrono::steady_clock::now();
  const auto stopped = RunProgram({"--port", url, "store"}, folder.Path(), launch);
  ASSERT_TRUE(stopped.has_value());
  EXPECT_EQ(stopped->status, 130);
  EXPECT_THAT(stopped->err, HasSubstr("interrupted while the port was being opened: nothing was sent"));
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(2500))
      << "ended by the stop, not by the handshake's bound";
  ::close(silent.fd);
}

struct DefaultsRow {
  const char* label;
  const char* port;
  std::string expected; // the full name once the defaults apply
};

TEST(Kv58TlsDefaultsTest, APortsOwnOptionsWinOverTheRunsDefaults) {
  TlsSettings defaults;
  defaults.pinSha256 = std::string(64, 'a');
  defaults.expectedName = "hall";
  defaults.certFile = "/c.pem";
  defaults.keyFile = "/k.pem";
  const std::string pin = "pin=SHA256:" + std::string(64, 'a');
  const DefaultsRow rows[] = {
      {"clear port untouched", "rfc2217://box:1", "rfc2217://box:1"},
      {"local port untouched", "COM3", "COM3"},
      {"all defaults", "tcp+tls://box:1", "tcp+tls://box:1?" + pin + "&name=hall&cert=/c.pem&key=/k.pem"},
      {"own CA keeps the default pin out", "tcp+tls://box:1?ca=/ca.pem",
       "tcp+tls://box:1?ca=/ca.pem&name=hall&cert=/c.pem&key=/k.pem"},
      {"own name", "tcp+tls://box:1?name=door",
       "tcp+tls://box:1?" + pin + "&name=door&cert=/c.pem&key=/k.pem"},
      {"own certificate keeps the default key out", "tcp+tls://box:1?cert=/mine.pem",
       "tcp+tls://box:1?" + pin + "&name=hall&cert=/mine.pem"},
  };
  for (const DefaultsRow& row : rows) {
    SCOPED_TRACE(row.label);
    const auto port = CommandLinePort(row.port);
    ASSERT_TRUE(port.has_value());
    EXPECT_EQ(WithTlsDefaults(*port, defaults).FullName(), row.expected);
  }
}

TEST(Kv58TlsDefaultsTest, TheCommandLineRefusesAMalformedPinAndAKeyWithoutACertificate) {
  const std::vector<std::vector<std::string_view>> refused{
      {"--port", "tcp+tls://box:1", "--tls-pin", "SHA256:abc", "store"},
      {"--port", "tcp+tls://box:1", "--tls-key", "/k.pem", "store"},
      {"--port", "tcp+tls://box:1", "--tls-ca", "", "store"},
  };
  for (const auto& args : refused) {
    const CommandLine line = ParseCommandLine(args);
    EXPECT_EQ(line.action, CommandLine::Action::Fail) << args[2];
    EXPECT_THAT(line.error, HasSubstr(std::string(args[2]))) << line.error;
  }
  std::string pin = "sha256:AB"; // as a user may copy it: other case, colons
  std::string expected = "ab";
  for (int i = 1; i < 32; ++i) {
    pin += ":Ab";
    expected += "ab";
  }
  const std::vector<std::string_view> accepted{"--port", "tcp+tls://box:1", "--tls-pin", pin, "store"};
  const CommandLine line = ParseCommandLine(accepted);
  ASSERT_EQ(line.action, CommandLine::Action::Run) << line.error;
  EXPECT_EQ(line.request.tlsDefaults.pinSha256, expected);
}

} // namespace
} // namespace kv58::cli
