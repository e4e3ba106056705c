// kv58 against the simulator standing in for a device server (kv58-sim --listen), with no
// server between them: one simulator listening as rfc2217:// and as tcp://, kv58 sending to
// both at once. What arrives at each display, byte for byte, the line settings the RFC 2217
// client asked for, and a second client turned away as a busy server turns it away.

#include <sys/socket.h>

#include <arpa/inet.h>
#include <fstream>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/testing/loopback.h"
#include "common/testing/scratch_dir.h"
#include "protocol/text_upload.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/tests/delay_proxy.h"
#include "tools/kv58/tests/program_run.h"
#include "tools/kv58_sim/event_format.h"
#include "tools/kv58_sim/testing/awkward_text.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58::cli {
namespace {

using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using sim::test_support::TelnetAwkwardText;
using test_support::RunProgram;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

int Connect(const std::string& url) {
  return kv58::testing::ConnectToLoopback(std::stoi(url.substr(url.rfind(':') + 1)));
}

TEST(Kv58SimListenTest, EveryCommandAndAFullTextArriveByteForByteInBothModes) {
  ScratchDir config;
  SimProcess sim;
  ASSERT_TRUE(
      sim.Start({"--listen", "rfc2217://127.0.0.1:0", "--listen", "tcp://127.0.0.1:0"}, config.Path()));
  const std::string telnetUrl = sim.ReadListeningUrl();
  const std::string rawUrl = sim.ReadListeningUrl();
  ASSERT_THAT(telnetUrl, StartsWith("rfc2217://127.0.0.1:"));
  ASSERT_THAT(rawUrl, StartsWith("tcp://127.0.0.1:"));
  const std::string text = TelnetAwkwardText();
  const auto file = config.Write("text.txt", text);

  const auto send = [&config, &file](const std::string& url) {
    return RunProgram({"--port", url, "-q", "speed", "4", "lines", "3", "9", "scroll", "horizontal", "send",
                       file.string(), "store", "reset"},
                      config.Path());
  };
  auto telnetRun = std::async(std::launch::async, send, telnetUrl);
  auto rawRun = std::async(std::launch::async, send, rawUrl);

  std::map<std::string, std::vector<std::string>> events; // by address, in order
  while (events[telnetUrl].size() + events[rawUrl].size() < 23) {
    const std::string event = sim.NextEvent();
    ASSERT_NE(event, "(no line)");
    const std::size_t space = event.find(' ');
    events[event.substr(0, space)].push_back(event.substr(space + 1));
  }
  for (auto* run : {&telnetRun, &rawRun}) {
    const auto finished = run->get();
    ASSERT_TRUE(finished.has_value());
    EXPECT_EQ(finished->status, kExitDone) << finished->err;
  }
  for (const std::string& url : {telnetUrl, rawUrl}) {
    SCOPED_TRACE(url);
    std::vector<std::string>& seen = events[url];
    ASSERT_GE(seen.size(), 11U);
    if (url == telnetUrl) {
      EXPECT_EQ(seen[1], "line 9600 8N1") << "the settings kv58 sent, said once";
      seen.erase(seen.begin() + 1);
    }
    // The first page may come a read after the frame that opens the text, a millisecond on.
    EXPECT_THAT(seen[7], StartsWith("text 1983 bytes, pages at "));
    EXPECT_THAT(seen[7], HasSubstr(" ms (256 + 256 + 256 + 256 + 256 + 256 + 256 + 191 bytes)"));
    EXPECT_THAT(seen[7], HasSubstr(" bytes), end at "));
    EXPECT_THAT(seen[7], HasSubstr(" ms: \"" + sim::EscapeC(text) + "\""));
    seen[7] = "text";
    EXPECT_THAT(seen, ElementsAre("open", "speed 4", "last-line 22", "first-line 3", "last-line 9",
                                  "scroll-type 2 (horizontal)", "reset", "text", "store", "reset", "hangup"));
  }
}

// A client already on the address keeps the display; the next is told the port is in use and
// kv58 says so, in both modes. JSON lines here, as scripts read them.
TEST(Kv58SimListenTest, ASecondClientIsTurnedAwayWhileTheFirstIsServed) {
  ScratchDir config;
  for (const std::string scheme : {"rfc2217", "tcp"}) {
    SCOPED_TRACE(scheme);
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--json", "--listen", scheme + "://127.0.0.1:0"}, config.Path()));
    const std::string url = sim.ReadListeningUrl();
    ASSERT_THAT(url, StartsWith(scheme + "://127.0.0.1:"));

    const int holder = Connect(url);
    ASSERT_GE(holder, 0);
    EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr("\"event\":\"open\""));
    const auto run = RunProgram({"--port", url, "speed", "4"}, config.Path());
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status, kExitDeviceError);
    EXPECT_THAT(run->err, HasSubstr("is in use by another client"));

    const std::string store = scheme == "rfc2217" ? "\xFF\xFF\x08" : "\xFF\x08"; // 0xFF doubled in Telnet
    EXPECT_EQ(::send(holder, store.data(), store.size(), MSG_NOSIGNAL), static_cast<ssize_t>(store.size()))
        << "the first client still has the display";
    EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr("\"event\":\"store\""));
    ::close(holder);
    EXPECT_THAT(sim.ReadLine().value_or(""), HasSubstr("\"event\":\"hangup\""));
  }
}

// The texts the display showed, by their sizes, from the simulator's events up to its hangup
// after `attempts` connections.
std::vector<std::size_t> TextsShown(SimProcess& sim, int attempts) {
  std::vector<std::size_t> sizes;
  for (int hangups = 0; hangups < attempts;) {
    const std::string event = sim.NextEvent();
    if (event == "(no line)") {
      break;
    }
    hangups += event.starts_with("hangup") ? 1 : 0;
    if (event.starts_with("text ")) {
      sizes.push_back(std::stoul(event.substr(5)));
    }
  }
  return sizes;
}

// A link lost in the middle of a text leaves the display behind the device server inside
// it. The next attempt ends that text before it sends anything, so the display shows part of
// the text, then the whole text, never one text running into the next; when no attempt
// gets through again, the report says what the display holds.
TEST(Kv58SimListenTest, ARetryEndsTheTextALostLinkLeftOpenBeforeSendingItWhole) {
  constexpr std::size_t kCutAfter = 700; // a few Telnet bytes, FF 07, then into the third page
  for (const bool laterRefused : {false, true}) {
    const bool passes = !laterRefused;
    SCOPED_TRACE(passes ? "the next attempt gets through" : "the next attempts are refused");
    ScratchDir config;
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--listen", "rfc2217://127.0.0.1:0"}, config.Path()));
    const std::string url = sim.ReadListeningUrl();
    const test_support::DelayProxy proxy(std::stoi(url.substr(url.rfind(':') + 1)),
                                         std::chrono::milliseconds(0),
                                         test_support::ProxyCut{kCutAfter, laterRefused});
    ASSERT_NE(proxy.Port(), 0);
    const auto file = config.Write("text.txt", std::string(kMaxTextBytes, 'x'));

    const auto run = RunProgram({"--port", "rfc2217://127.0.0.1:" + std::to_string(proxy.Port()), "--retries",
                                 "1", "--json", "send", file.string()},
                                config.Path(), test_support::OutputTo(config.Path() / "report.jsonl"));
    ASSERT_TRUE(run.has_value());
    std::ifstream reportFile(config.Path() / "report.jsonl");
    const nlohmann::json report = nlohmann::json::parse(reportFile);
    EXPECT_EQ(report["attempts"], 2);
    if (passes) {
      EXPECT_EQ(run->status, kExitDone) << run->err;
      EXPECT_EQ(report["status"], "done");
      EXPECT_THAT(report.value("earlier", std::string()),
                  HasSubstr("it showed the first 2 of 8 pages (perhaps part of the next)"));
      const std::vector<std::size_t> texts = TextsShown(sim, 2);
      EXPECT_THAT(texts, ::testing::Each(::testing::Le(kMaxTextBytes))) << "no text ran into another";
      ASSERT_EQ(texts.size(), 2U) << "part of the text, ended; then the whole text";
      EXPECT_LT(texts[0], 3 * kPageBytes);
      EXPECT_EQ(texts[1], kMaxTextBytes);
    } else {
      EXPECT_EQ(run->status, kExitDeviceError);
      EXPECT_EQ(report["status"], "partial");
      EXPECT_EQ(report["kind"], "refused");
      EXPECT_EQ(report["text_ended"], false);
      EXPECT_THAT(report.value("message", std::string()), StartsWith("the display holds the first "));
      EXPECT_THAT(report.value("message", std::string()),
                  ::testing::ContainsRegex(" of 8 pages.* and no end"));
    }
  }
}

} // namespace
} // namespace kv58::cli
