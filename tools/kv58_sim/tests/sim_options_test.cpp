#include "tools/kv58_sim/sim_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <vector>

namespace kv58::sim {
namespace {

using ::testing::HasSubstr;

CommandLine Parse(std::vector<std::string_view> args) { return ParseCommandLine(args); }

TEST(ParseCommandLineTest, NoArgumentsRunWithTheDefaults) {
  const CommandLine line = Parse({});
  ASSERT_EQ(line.action, CommandLine::Action::Run);
  const SimOptions& o = line.options;
  EXPECT_EQ(o.format, OutputFormat::Text);
  EXPECT_EQ(o.linkName, std::nullopt);
  EXPECT_EQ(o.reply, "");
  EXPECT_EQ(o.sendFile, std::nullopt);
  EXPECT_EQ(o.sendBytes, "");
  EXPECT_EQ(o.sendDelayMs, 0);
  EXPECT_FALSE(o.exitOnHangup);
  EXPECT_EQ(o.limits.frameTimeoutMs, 500);
  EXPECT_EQ(o.limits.uploadTimeoutMs, 5000);
  EXPECT_EQ(o.limits.pageGapMs, 200);
  if (kPseudoTerminals) {
    EXPECT_TRUE(o.listen.empty()) << "a pseudo-terminal by default";
  } else {
    ASSERT_EQ(o.listen.size(), 1U) << "no pseudo-terminal: an address by default";
    EXPECT_EQ(NetworkPortName(o.listen.front()), kDefaultListenUrl);
  }
}

TEST(ParseCommandLineTest, LinkNamesThePseudoTerminalWhereThereIsOne) {
  const CommandLine line = Parse({"--link", "COM201"});
  if (kPseudoTerminals) {
    ASSERT_EQ(line.action, CommandLine::Action::Run) << line.error;
    EXPECT_EQ(line.options.linkName, "COM201");
  } else {
    EXPECT_EQ(line.action, CommandLine::Action::Fail);
    EXPECT_THAT(line.error, HasSubstr("use --listen"));
  }
}

TEST(ParseCommandLineTest, EveryOptionReachesItsField) {
  const CommandLine line =
      Parse({"--json", "--reply", "06 0d", "--send-file", "hello.txt", "--send-hex=4f4b", "--send-delay",
             "250", "--exit-on-hangup", "--frame-timeout=40", "--upload-timeout", "3000", "--page-gap", "0"});
  ASSERT_EQ(line.action, CommandLine::Action::Run) << line.error;
  const SimOptions& o = line.options;
  EXPECT_EQ(o.format, OutputFormat::Json);
  EXPECT_EQ(o.reply, "\x06\x0d");
  EXPECT_EQ(o.sendFile, "hello.txt");
  EXPECT_EQ(o.sendBytes, "OK");
  EXPECT_EQ(o.sendDelayMs, 250);
  EXPECT_TRUE(o.exitOnHangup);
  EXPECT_EQ(o.limits.frameTimeoutMs, 40);
  EXPECT_EQ(o.limits.uploadTimeoutMs, 3000);
  EXPECT_EQ(o.limits.pageGapMs, 0);
}

TEST(ParseCommandLineTest, HelpWinsWhereverItStands) {
  EXPECT_EQ(Parse({"--help"}).action, CommandLine::Action::ShowHelp);
  EXPECT_EQ(Parse({"--json", "-h"}).action, CommandLine::Action::ShowHelp);
  EXPECT_EQ(Parse({"-h", "--bogus"}).action, CommandLine::Action::ShowHelp);
}

struct BadLineCase {
  const char* label;
  std::vector<std::string_view> args;
  const char* errorMentions;
};

class BadCommandLineTest : public ::testing::TestWithParam<BadLineCase> {};

TEST_P(BadCommandLineTest, FailsWithAReason) {
  const CommandLine line = Parse(GetParam().args);
  EXPECT_EQ(line.action, CommandLine::Action::Fail);
  EXPECT_THAT(line.error, HasSubstr(GetParam().errorMentions));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadCommandLineTest,
    ::testing::Values(BadLineCase{"UnknownOption", {"--speed"}, "unknown option \"--speed\""},
                      BadLineCase{"BareWord", {"COM7"}, "unknown option"},
                      BadLineCase{"ValueMissingAtTheEnd", {"--json", "--link"}, "--link needs a value"},
                      BadLineCase{"FlagWithAValue", {"--json=yes"}, "--json takes no value"},
                      BadLineCase{"LinkNotACom", {"--link", "ttyS0"}, "COM7"},
                      BadLineCase{"LinkWithAPath", {"--link", "COM1/../x"}, "--link"},
                      BadLineCase{"LinkZero", {"--link", "COM0"}, "--link"},
                      BadLineCase{"LinkLeadingZero", {"--link", "COM07"}, "--link"},
                      BadLineCase{"ReplyOddDigits", {"--reply", "063"}, "--reply takes hex bytes"},
                      BadLineCase{"ReplyEmpty", {"--reply="}, "--reply"},
                      BadLineCase{"ReplyGivenNoValue", {"--reply", "--json"}, "--reply"},
                      BadLineCase{"SendHexNotHex", {"--send-hex", "zz"}, "--send-hex"},
                      BadLineCase{"SendFileEmpty", {"--send-file="}, "--send-file needs a"},
                      BadLineCase{
                          "DelayNegative", {"--send-delay", "-5"}, "--send-delay takes whole milliseconds"},
                      BadLineCase{"DelayWithUnit", {"--send-delay", "5ms"}, "--send-delay"},
                      BadLineCase{"TimeoutZero", {"--frame-timeout", "0"}, "from 1"},
                      BadLineCase{"TimeoutOverADay", {"--upload-timeout", "86400001"}, "--upload-timeout"},
                      BadLineCase{"GapHuge", {"--page-gap", "99999999999999999999"}, "--page-gap"}),
    [](const auto& row) { return std::string(row.param.label); });

struct HexCase {
  const char* label;
  std::string_view text;
  std::optional<std::string> bytes;
};

class ParseHexBytesTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(ParseHexBytesTest, ReadsPairsOfDigits) { EXPECT_EQ(ParseHexBytes(GetParam().text), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseHexBytesTest,
    ::testing::Values(HexCase{"OneByte", "06", "\x06"}, HexCase{"RunTogether", "4f4B0d0A", "OK\r\n"},
                      HexCase{"Blanks", " 4f  4b\t", "OK"}, HexCase{"CommasAndColons", "4f,4b:21", "OK!"},
                      HexCase{"ZeroXPrefixes", "0x4f 0X4b", "OK"},
                      HexCase{"ZeroByte", "00", std::string(1, '\0')}, HexCase{"HighByte", "ff", "\xff"},
                      HexCase{"Empty", "", std::nullopt}, HexCase{"OnlySeparators", " , ", std::nullopt},
                      HexCase{"OddDigits", "4f4", std::nullopt}, HexCase{"SplitPair", "4 f", std::nullopt},
                      HexCase{"NotHex", "4g", std::nullopt}, HexCase{"PrefixAlone", "0x", std::nullopt},
                      HexCase{"Dash", "4f-4b", std::nullopt}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(IsComNameTest, TakesComAndANumberFromOne) {
  for (const std::string_view good : {"COM1", "COM7", "COM201", "COM999999999"}) {
    EXPECT_TRUE(IsComName(good)) << good;
  }
  for (const std::string_view bad :
       {"", "COM", "COM0", "COM01", "com7", "COM-1", "COM7 ", " COM7", "COM1234567890", "COM7/x", "LPT1"}) {
    EXPECT_FALSE(IsComName(bad)) << bad;
  }
}

TEST(UsageTextTest, DescribesEveryOptionTheParserTakes) {
  struct Sample {
    std::string_view option;
    std::string_view value; // empty for a flag
  };
  const std::string usage = UsageText();
  for (const Sample& sample :
       {Sample{"--listen", "tcp://:0"}, Sample{"--json", ""}, Sample{"--reply", "06"},
        Sample{"--send-file", "f"}, Sample{"--send-hex", "06"}, Sample{"--send-delay", "1"},
        Sample{"--exit-on-hangup", ""}, Sample{"--frame-timeout", "1"}, Sample{"--upload-timeout", "1"},
        Sample{"--page-gap", "1"}}) {
    EXPECT_THAT(usage, HasSubstr(std::string(sample.option)));
    std::vector<std::string_view> args{sample.option};
    if (!sample.value.empty()) {
      args.push_back(sample.value);
    }
    EXPECT_EQ(Parse(args).action, CommandLine::Action::Run) << sample.option;
  }
  EXPECT_THAT(usage, HasSubstr("--help"));
  // Where the pseudo-terminal's link goes, or where the simulator listens without one.
  EXPECT_THAT(usage, HasSubstr(kPseudoTerminals ? "--link" : kDefaultListenUrl));
  EXPECT_THAT(usage, HasSubstr(kPseudoTerminals ? "kv58/ports" : "exit (Ctrl+C)"));
}

} // namespace
} // namespace kv58::sim
