// kv58 on Windows, run whole in this process against the lines that scripts/test-windows maps
// under Wine: a pair whose far end the test reads with plain Win32 calls, and the device
// simulator, which answers every frame it decodes.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>

#include "common/testing/scratch_dir.h"
#include "protocol/pause.h"
#include "serial/port_discovery.h"
#include "serial/tests/test_support_win32.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/hex_text.h"
#include "tools/kv58/run.h"
#include "tools/kv58/tests/stop_after.h"

namespace kv58::cli {
namespace {

using kv58::testing::EnvironmentText;
using ::testing::HasSubstr;

class Kv58Win32Test : public ::testing::Test {
protected:
  // With `stopAfter`, the user presses Ctrl+C that long after the start.
  int Run(std::vector<std::string_view> args, std::optional<std::chrono::milliseconds> stopAfter = {}) {
    ClearStopRequest();
    Console console{out, err, in, false, [](const char*) { return std::nullopt; }, [](bool) {}};
    Machine machine{SystemSerialDriver(), SystemPortSource, SleepingPause(), std::chrono::milliseconds(20)};
    return test_support::WithStopAfter(stopAfter, [&] { return RunKv58(args, console, machine); });
  }

  std::ostringstream out; // also read while monitor runs, on its own thread
  std::ostringstream err;
  std::istringstream in;
};

TEST_F(Kv58Win32Test, FramesAndTextReachTheFarEndOfTheLineInOrder) {
  const auto name = EnvironmentText(kv58::testing::kPortVariable);
  const auto peerName = EnvironmentText(kv58::testing::kPeerPortVariable);
  if (!name || !peerName) {
    GTEST_SKIP() << "no line: scripts/test-windows maps one under Wine";
  }
  kv58::testing::PeerPort peer(*peerName);
  ASSERT_TRUE(peer.IsReady());
  std::string text;
  // Every byte value but 00, which kv58 refuses in a text: 0xFF, CR and LF travel inside the pages.
  for (int i = 0; i < 300; ++i) {
    text += static_cast<char>(1 + i % 255);
  }
  const kv58::testing::ScratchDir scratch;
  const auto file = scratch.Write("text.txt", text);

  ASSERT_EQ(Run({"--port", *name, "--baud", "115200", "speed", "4", "lines", "3", "9", "scroll", "horizontal",
                 "send", file.string(), "store"}),
            kExitDone)
      << err.str();

  const std::string frames = "\xFF\x03\x04\xFF\x05\x16\xFF\x04\x03\xFF\x05\x09\xFF\x06\x02\xFF\x09\xFF\x07";
  const std::string expected = frames + text + std::string(1, '\0') + "\xFF\x08";
  EXPECT_EQ(HexLine(peer.Receive(expected.size())), HexLine(expected));
}

TEST_F(Kv58Win32Test, TheSimulatorAnswersWhatKv58Sent) {
  const auto name = EnvironmentText(kv58::testing::kSimPortVariable);
  const auto replyHex = EnvironmentText(kv58::testing::kSimReplyVariable);
  if (!name || !replyHex) {
    GTEST_SKIP() << "no simulator: scripts/test-windows starts kv58-sim and maps it under Wine";
  }
  std::string reply = *replyHex; // "4f 4b 0d 0a", as monitor --hex prints it
  for (char& c : reply) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string sentLine = *name + ": sent store\n";
  ASSERT_EQ(Run({"--port", *name, "--baud", "115200", "store", "monitor", "--hex"}, std::chrono::seconds(5)),
            128 + SIGINT)
      << err.str();
  std::string heard = out.str();
  ASSERT_TRUE(heard.starts_with(sentLine)) << heard;
  heard.erase(0, sentLine.size());
  std::replace(heard.begin(), heard.end(), '\n', ' '); // however the reads split it
  EXPECT_EQ(heard, reply + " ");
}

// The Winsock driver against ser2net on the host: one display over RFC 2217, then two as a
// fleet. scripts/test-windows then finds each text whole in its simulator's log.
TEST_F(Kv58Win32Test, ReachesDisplaysBehindADeviceServer) {
  const auto urls = EnvironmentText(kv58::testing::kNetworkPortsVariable);
  if (!urls) {
    GTEST_SKIP() << "no device server: scripts/test-windows starts ser2net in front of two simulators";
  }
  std::istringstream words(*urls);
  std::string first;
  std::string second;
  words >> first >> second;
  ASSERT_FALSE(second.empty()) << *urls;
  std::string text(300, 'n');
  text.replace(250, 6, "\xFF\r\n\xFF\xFF\x01"); // Telnet's command byte, doubled on the way, across a page
  const kv58::testing::ScratchDir scratch;
  const auto file = scratch.Write("network.txt", text);

  ASSERT_EQ(Run({"--port", first, "--baud", "19200", "speed", "4", "send", file.string(), "store"}),
            kExitDone)
      << err.str();
  EXPECT_EQ(out.str(), first + ": sent speed 4\n" + first + ": sent text of 300 bytes in 2 pages\n" + first +
                           ": sent store\n");

  out.str("");
  ASSERT_EQ(Run({"--port", first, "--port", second, "send", file.string()}), kExitDone) << err.str();
  EXPECT_EQ(out.str(), first + ": done\n" + second + ": done\n");
}

TEST_F(Kv58Win32Test, PortThatDoesNotExistIsADeviceErrorSaidSo) {
  EXPECT_EQ(Run({"--port", "COM199", "store"}), kExitDeviceError);
  EXPECT_EQ(err.str(), "kv58: COM199: cannot open the port: it does not exist\n");
}

TEST_F(Kv58Win32Test, PortsListsTheMappedLines) {
  const auto name = EnvironmentText(kv58::testing::kPortVariable);
  const auto simName = EnvironmentText(kv58::testing::kSimPortVariable);
  if (!name || !simName) {
    GTEST_SKIP() << "no lines: scripts/test-windows maps them under Wine";
  }
  ASSERT_EQ(Run({"ports"}), kExitDone);
  const std::string listed = out.str();
  EXPECT_THAT(listed, HasSubstr(*name + " "));
  EXPECT_LT(listed.find(*name + " "), listed.find(*simName + " ")) << "in port number order:\n" << listed;
}

} // namespace
} // namespace kv58::cli
