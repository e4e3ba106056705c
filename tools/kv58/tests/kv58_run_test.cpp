// kv58 run whole, in-process, on a recording driver: what each command line puts on the
// line and in which order, and which command lines are refused before anything is opened.

#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/stop_request.h"
#include "common/testing/scratch_dir.h"
#include "protocol/device_command.h"
#include "protocol/tests/protocol_test_support.h"
#include "serial/testing/fake_port_source.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/hex_text.h"
#include "tools/kv58/run.h"
#include "tools/kv58/usage_text.h"

namespace kv58::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A driver through which the user asks kv58 to stop as soon as the first byte is written.
class StoppingDriver : public kv58::testing::ScriptedWriteDriver {
public:
  int stopAtFirstWrite = 0; // the signal; 0: nobody asks

  bool WriteFile(PortHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t& written) override {
    if (stopAtFirstWrite != 0) {
      RequestStop(StopLevel::Finish, stopAtFirstWrite);
    }
    return ScriptedWriteDriver::WriteFile(handle, buffer, count, written);
  }
};

class Kv58RunTest : public ::testing::Test {
protected:
  void SetUp() override { ClearStopRequest(); }
  void TearDown() override { ClearStopRequest(); }

  StoppingDriver driver;
  kv58::testing::FakePortSource ports;
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  std::optional<std::string> portVariable;
  bool errIsTerminal = false;
  std::chrono::milliseconds pauseTakes{0}; // how long each recorded pause really waits

  int Run(std::vector<std::string_view> args) {
    Console console{out,
                    err,
                    in,
                    errIsTerminal,
                    [this](const char* name) {
                      return std::string_view(name) == kPortVariable ? portVariable : std::nullopt;
                    },
                    [](bool) {}};
    Machine machine{driver, [this] { return std::make_unique<ForwardingSource>(ports); },
                    [this, record = driver.RecordingPause()](std::uint32_t milliseconds) {
                      record(milliseconds);
                      std::this_thread::sleep_for(pauseTakes);
                    }};
    return RunKv58(args, console, machine);
  }

  // The line as written: the bytes of consecutive writes in hex, each pause as "(N ms)".
  [[nodiscard]] std::string Line() const {
    std::string line;
    for (const auto& call : driver.calls) {
      std::string item;
      if (call.function == "WriteFile") {
        item = HexLine(call.text);
      } else if (call.function == "Pause") {
        // The device's pause before a reset is its own fact, pinned where it lives.
        item = call.count == kScrollTypeResetPauseMs ? "(scroll pause)"
                                                     : "(" + std::to_string(call.count) + " ms)";
      } else {
        continue;
      }
      line += (line.empty() ? "" : " ") + item;
    }
    return line;
  }

private:
  // Each listing gets a source of its own, as from the system; these all read one script.
  class ForwardingSource : public PortSource {
  public:
    explicit ForwardingSource(PortSource& target) : target_(target) {}
    bool OpenKey() override { return target_.OpenKey(); }
    std::vector<std::string> ValueNames() override { return target_.ValueNames(); }
    std::string ReadString(const std::string& name) override { return target_.ReadString(name); }
    void CloseKey() override { target_.CloseKey(); }

  private:
    PortSource& target_;
  };
};

struct LineCase {
  const char* label;
  std::vector<std::string_view> args;
  const char* input; // standard input
  const char* line;
};

void PrintTo(const LineCase& row, std::ostream* os) { *os << row.label; }

class Kv58LineTest : public Kv58RunTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(Kv58LineTest, SendsTheWindowsFramesAndPausesInTheOrderGiven) {
  in.str(GetParam().input);
  std::vector<std::string_view> args{"--port", "COM5"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());

  EXPECT_EQ(Run(args), kExitDone) << err.str();
  EXPECT_EQ(Line(), GetParam().line);
  EXPECT_THAT(err.str(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Kv58LineTest,
    ::testing::Values(
        LineCase{"Speed", {"speed", "4"}, "", "FF 03 04"},
        LineCase{"SpeedZero", {"speed", "0"}, "", "FF 03 00"},
        LineCase{"LinesGoThroughTheBottomLine", {"lines", "3", "9"}, "", "FF 05 16 FF 04 03 FF 05 09"},
        LineCase{"LinesEndingAtTheBottomNeedNoThirdFrame", {"lines", "5", "22"}, "", "FF 05 16 FF 04 05"},
        LineCase{"ScrollThenAPauseThenReset", {"scroll", "horizontal"}, "", "FF 06 02 (scroll pause) FF 09"},
        LineCase{"ScrollNone", {"scroll", "none"}, "", "FF 06 00 (scroll pause) FF 09"},
        LineCase{"StoreAndReset", {"store", "reset"}, "", "FF 08 FF 09"},
        LineCase{"SeveralInTheOrderGiven",
                 {"speed", "16", "scroll", "vertical", "store", "speed", "2"},
                 "",
                 "FF 03 10 FF 06 01 (scroll pause) FF 09 FF 08 FF 03 02"},
        LineCase{"TextFromStandardInput", {"send", "-"}, "AB\r\n", "FF 07 41 42 0D 0A (1000 ms) 00"},
        LineCase{"EmptyTextIsFrameAndTerminator", {"send", "-", "store"}, "", "FF 07 00 FF 08"},
        LineCase{"OptionsAfterTheCommands", {"speed", "1", "--quiet"}, "", "FF 03 01"},
        LineCase{"TemplateKeepsWhatIsNoField",
                 {"send", "--template", "-"},
                 "{{x} {y}",
                 "FF 07 7B 78 7D 20 7B 79 7D (1000 ms) 00"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(Kv58RunTest, OpensAtTheGivenSpeedWithTheDevicesLineSettingsAndReportsEachCommand) {
  ASSERT_EQ(Run({"--port", "COM5", "--baud", "19200", "store", "lines", "1", "22"}), kExitDone);
  EXPECT_EQ(driver.calls.front().text, "COM5");
  ASSERT_TRUE(driver.lastDcb.has_value());
  EXPECT_EQ(driver.lastDcb->BaudRate, 19200u);
  EXPECT_EQ(out.str(), "COM5: sent store\nCOM5: sent lines 1 to 22\n");
  EXPECT_TRUE(driver.openHandles.empty()) << "the port is closed at the end";
}

TEST_F(Kv58RunTest, PortComesFromTheEnvironmentUnlessGiven) {
  portVariable = "COM8";
  ASSERT_EQ(Run({"-q", "reset"}), kExitDone);
  EXPECT_EQ(driver.calls.front().text, "COM8");
  EXPECT_THAT(out.str(), IsEmpty()) << "--quiet";

  driver.ClearRecord();
  ASSERT_EQ(Run({"-q", "--port", "com9", "reset"}), kExitDone);
  EXPECT_EQ(driver.calls.front().text, "COM9") << "spelled as Windows takes it";
}

// The line is still there, so the display gets its terminator and keeps a whole, shorter text.
TEST_F(Kv58RunTest, LostPageEndsTheTextThereAndIsNamed) {
  in.str(std::string(600, 'x'));
  driver.failingWrites.insert(3); // FF, 07, page 1, then page 2 fails

  EXPECT_EQ(Run({"--port", "COM5", "send", "-", "store"}), kExitDeviceError);

  const std::string page = HexLine(std::string(256, 'x'));
  EXPECT_EQ(Line(), "FF 07 " + page + " (1000 ms) " + page + " (1000 ms) 00")
      << "no page after the lost one, its pause, the terminator, no store";
  EXPECT_EQ(err.str(), "kv58: COM5: text from standard input: page 2 of 3 was not sent: the port did not "
                       "take the bytes in time; the text was ended there, and the display shows the first "
                       "1 of 3 pages\n");
}

TEST_F(Kv58RunTest, PortThatDoesNotOpenIsADeviceError) {
  driver.absentPorts.insert("COM5");
  EXPECT_EQ(Run({"--port", "COM5", "store"}), kExitDeviceError);
  EXPECT_THAT(err.str(), HasSubstr("kv58: COM5: cannot open the port"));
  EXPECT_EQ(driver.CountOf("WriteFile"), 0u);
}

// One display that cannot be reached leaves the others; the report keeps the order given.
TEST_F(Kv58RunTest, FleetReportsEveryDisplayInTheOrderGiven) {
  driver.absentPorts.insert("COM6");
  EXPECT_EQ(Run({"--jobs", "1", "--port", "COM7", "--port", "COM6", "--port", "COM5", "store"}),
            kExitDeviceError);
  EXPECT_THAT(out.str(), ::testing::MatchesRegex("COM7: done\nCOM6: not reachable: .*\nCOM5: done\n"));
  EXPECT_EQ(Line(), "FF 08 FF 08");
}

// Ports files come from inventories: names are printed with their control bytes escaped, tags
// pick displays, and the same display twice is refused before any port opens.
TEST_F(Kv58RunTest, APortsFileIsReadAsUntrustedText) {
  kv58::testing::ScratchDir folder;
  const auto file =
      folder.Write("ports.txt", "hall\x1b[2J COM5 hall\nCOM6 yard # the yard\nlobby COM7 hall\n");
  ASSERT_EQ(Run({"--ports-file", file.string(), "--only", "hall", "store"}), kExitDone);
  EXPECT_EQ(out.str(), "hall\\x1b[2J (COM5): done\nlobby (COM7): done\n");

  const auto twice = folder.Write("twice.txt", "a COM5\nb com05\n");
  driver.ClearRecord();
  EXPECT_EQ(Run({"--ports-file", twice.string(), "store"}), kExitUsageError);
  EXPECT_THAT(err.str(), HasSubstr("COM5 is given twice (" + twice.string() + ", line 1, and " +
                                   twice.string() + ", line 2)"));
  EXPECT_TRUE(driver.calls.empty());

  std::vector<std::pair<std::string, std::string>> notFiles{{folder.Path().string(), "is a folder"}};
#if !defined(_WIN32)
  notFiles.emplace_back("/dev/null", "is not a regular file");
#endif
  for (const auto& [path, says] : notFiles) {
    EXPECT_EQ(Run({"--ports-file", path, "store"}), kExitUsageError) << path;
    EXPECT_THAT(err.str(), HasSubstr(says));
  }
}

// The fleet's line counts down while a display's text goes out, as a single display's bar does.
TEST_F(Kv58RunTest, FleetProgressLineCountsTheSecondsLeftOnATerminal) {
  errIsTerminal = true;
  pauseTakes = std::chrono::milliseconds(400); // each count stands for two redraws of the line
  in.str(std::string(600, 'x'));
  ASSERT_EQ(Run({"--port", "COM5", "--port", "COM6", "send", "-"}), kExitDone);
  EXPECT_THAT(err.str(), HasSubstr(" failed, 1 in progress, 2 s left"));
}

TEST_F(Kv58RunTest, ProgressBarCountsPagesOnATerminal) {
  errIsTerminal = true;
  in.str(std::string(300, 'x'));
  ASSERT_EQ(Run({"--port", "COM5", "send", "-"}), kExitDone);
  EXPECT_THAT(err.str(), HasSubstr("page 1 of 2 sent, 2 s left"));
  EXPECT_THAT(err.str(), HasSubstr("page 2 of 2 sent, 1 s left"));
  EXPECT_EQ(out.str(), "COM5: sent text of 300 bytes in 2 pages\n");
}

TEST_F(Kv58RunTest, APortIsOpenedAndNamedAsTheProgramWritesIt) {
  ASSERT_EQ(Run({"--port", "com05", "speed", "4"}), kExitDone);
  EXPECT_EQ(out.str(), "COM5: sent speed 4\n");
  ASSERT_FALSE(driver.calls.empty());
  EXPECT_EQ(driver.calls.front().text, "COM5");
  out.str("");
  ASSERT_EQ(Run({"--port", "com05", "--dry-run", "speed", "4"}), kExitDone);
  EXPECT_THAT(err.str(), HasSubstr("kv58: COM5: dry run: nothing is opened"));
}

TEST_F(Kv58RunTest, DryRunPrintsFramesAndPausesAndOpensNothing) {
  in.str("Hi");
  ASSERT_EQ(Run({"--dry-run", "speed", "4", "scroll", "vertical", "send", "-"}), kExitDone);
  EXPECT_EQ(out.str(), "FF 03 04\nFF 06 01\npause 10 ms\nFF 09\nFF 07\n48 69\npause 1000 ms\n00\n");
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(Kv58RunTest, DryRunMonitorNoteStandsOnALineOfItsOwn) {
  ASSERT_EQ(Run({"--dry-run", "speed", "4", "monitor"}), kExitDone);
  EXPECT_EQ(out.str(), "FF 03 04\nmonitor: nothing is read in a dry run\n");
}

// The display would end the text at the 00 and obey "FF 03 10 FF 08" as speed 16 and a store.
TEST_F(Kv58RunTest, TextHolding00IsRefusedWithItsOffsetBeforeAnythingIsSent) {
  in.str(std::string("Hi\0\xFF\x03\x10\xFF\x08", 8));
  EXPECT_EQ(Run({"--port", "COM5", "store", "send", "-"}), kExitUsageError);
  EXPECT_THAT(err.str(), HasSubstr("kv58: standard input holds a 00 byte at offset 2"));
  EXPECT_TRUE(driver.calls.empty());
}

// The date goes in as the text is read; a field the display might show in another language is
// refused before anything is sent.
TEST_F(Kv58RunTest, TemplateTextsHaveTheirDateFilledInBeforeAnythingIsSent) {
  in.str("{date}");
  ASSERT_EQ(Run({"--dry-run", "send", "--template", "-"}), kExitDone) << err.str();
  const std::time_t now = std::time(nullptr);
  char today[16] = {};
  (void)std::strftime(today, sizeof today, "%Y-%m-%d", std::localtime(&now)); // as kv58 read it, bar midnight
  std::ostringstream hex;
  for (const char c : std::string(today)) {
    hex << (hex.tellp() > 0 ? " " : "") << std::uppercase << std::hex << int{c};
  }
  EXPECT_EQ(out.str(), "FF 07\n" + hex.str() + "\npause 1000 ms\n00\n");

  in.clear();
  in.str("Open {date:%A}");
  EXPECT_EQ(Run({"--port", "COM5", "store", "send", "-", "--template"}), kExitUsageError);
  EXPECT_THAT(err.str(), HasSubstr("kv58: standard input: {date:%A}: %A is not a field of digits"));
  EXPECT_TRUE(driver.calls.empty());
}

struct InterruptCase {
  const char* label;
  std::vector<std::string_view> args;
  std::size_t inputBytes;
  int signal;
  int status;
  const char* line; // with "P" for a page of 'x' bytes
  const char* says;
};

void PrintTo(const InterruptCase& row, std::ostream* os) { *os << row.label; }

class Kv58InterruptTest : public Kv58RunTest, public ::testing::WithParamInterface<InterruptCase> {};

// Asked to stop once the first byte is out: what is being sent still ends whole.
TEST_P(Kv58InterruptTest, EndsWhatIsBeingSentWholeAndSendsNothingAfter) {
  const auto& c = GetParam();
  in.str(std::string(c.inputBytes, 'x'));
  driver.stopAtFirstWrite = c.signal;
  std::vector<std::string_view> args{"--port", "COM5"};
  args.insert(args.end(), c.args.begin(), c.args.end());

  EXPECT_EQ(Run(args), c.status);

  std::string line = c.line;
  const std::string page = HexLine(std::string(256, 'x'));
  for (std::size_t at = line.find('P'); at != std::string::npos; at = line.find('P')) {
    line.replace(at, 1, page);
  }
  EXPECT_EQ(Line(), line);
  EXPECT_THAT(err.str(), HasSubstr(c.says));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Kv58InterruptTest,
    ::testing::Values(InterruptCase{"TextEndsAfterItsFirstPage",
                                    {"send", "-", "store"},
                                    600,
                                    SIGINT,
                                    130,
                                    "FF 07 P (1000 ms) 00",
                                    "interrupted: the display shows the first 1 of 3 pages"},
                      InterruptCase{"ScrollTypeKeepsItsReset",
                                    {"scroll", "vertical", "store"},
                                    0,
                                    SIGTERM,
                                    143,
                                    "FF 06 01 (scroll pause) FF 09",
                                    "interrupted after scroll vertical; the commands after it"},
                      InterruptCase{"NoStepAfterTheOneBeingSent",
                                    {"store", "send", "-"},
                                    0,
                                    SIGINT,
                                    130,
                                    "FF 08",
                                    "interrupted after store"}),
    [](const auto& row) { return std::string(row.param.label); });

// Asked to stop before anything started: no port is opened, nothing is sent, and a fleet
// starts none of its displays.
TEST_F(Kv58RunTest, AStopBeforeTheFirstCommandSendsNothing) {
  RequestStop(StopLevel::Finish, SIGINT);
  EXPECT_EQ(Run({"--port", "COM5", "store"}), 130);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_THAT(err.str(), HasSubstr("kv58: COM5: interrupted before the port was opened: nothing was sent"));

  out.str("");
  EXPECT_EQ(Run({"--port", "COM5", "--port", "COM6", "store"}), 130);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(out.str(), "COM5: not started\nCOM6: not started\n");
}

TEST_F(Kv58RunTest, PortsAreListedInTheWindowsOrderWithTheirDevices) {
  ports.AddText("/dev/ttyUSB0", "COM33");
  ports.AddText("/dev/ttyS1", "COM2");
  ports.AddNonText("bad");
  ASSERT_EQ(Run({"ports"}), kExitDone);
  EXPECT_EQ(out.str(), "COM2    /dev/ttyS1\nCOM33   /dev/ttyUSB0\n");
  EXPECT_TRUE(driver.calls.empty());
}

struct UsageCase {
  const char* label;
  std::vector<std::string_view> args;
  const char* says;
};

void PrintTo(const UsageCase& row, std::ostream* os) { *os << row.label; }

class Kv58UsageTest : public Kv58RunTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(Kv58UsageTest, IsRefusedWithStatusTwoBeforeAnyPortIsOpened) {
  EXPECT_EQ(Run(GetParam().args), kExitUsageError);
  EXPECT_THAT(err.str(), HasSubstr(GetParam().says));
  EXPECT_THAT(out.str(), IsEmpty());
  EXPECT_TRUE(driver.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Kv58UsageTest,
    ::testing::Values(
        UsageCase{"NoCommand", {"--port", "COM5"}, "no command given"},
        UsageCase{"NoPort", {"store"}, "no port given"},
        UsageCase{"PortNotAName", {"--port", "/dev/ttyS0", "store"}, "--port takes a port name"},
        UsageCase{"PortInHex", {"--port", "COM0x5", "store"}, "a port name is COM and a number from 1"},
        UsageCase{"PortWithoutValue", {"store", "--port"}, "--port needs a value"},
        UsageCase{"UnknownOption", {"--port", "COM5", "--speed", "4"}, "unknown option \"--speed\""},
        UsageCase{"UnknownCommand", {"--port", "COM5", "blink"}, "unknown command or extra value \"blink\""},
        UsageCase{"SpeedWithoutValue", {"--port", "COM5", "speed"}, "speed needs the speed"},
        UsageCase{"SpeedTooHigh", {"--port", "COM5", "speed", "17"}, "from 0 to 16, not \"17\""},
        UsageCase{"SpeedNegative", {"--port", "COM5", "speed", "-1"}, "not \"-1\""},
        UsageCase{"SpeedNotANumber", {"--port", "COM5", "speed", "4x"}, "not \"4x\""},
        UsageCase{"SpeedTwoValues", {"--port", "COM5", "speed", "4", "5"}, "extra value \"5\""},
        UsageCase{"LinesOneValue", {"--port", "COM5", "lines", "5"}, "lines needs the last line"},
        UsageCase{
            "LinesZero", {"--port", "COM5", "lines", "0", "5"}, "the first line is a whole number from 1"},
        UsageCase{"LinesBelowTheDisplay", {"--port", "COM5", "lines", "1", "23"}, "not \"23\""},
        UsageCase{"LinesFirstAfterLast", {"--port", "COM5", "lines", "9", "3"}, "comes after the last line"},
        UsageCase{"ScrollUnknown", {"--port", "COM5", "scroll", "diagonal"}, "none, vertical or horizontal"},
        UsageCase{"SendWithoutFile", {"--port", "COM5", "send"}, "send needs a file name"},
        UsageCase{"StandardInputTwice", {"--port", "COM5", "send", "-", "send", "-"}, "read only once"},
        UsageCase{"MonitorNotLast", {"--port", "COM5", "monitor", "store"}, "must be the last command"},
        UsageCase{"PortsWithCommands", {"ports", "store"}, "ports stands alone"},
        UsageCase{
            "BaudNotANumber", {"--port", "COM5", "--baud", "fast", "store"}, "--baud takes a line speed"},
        UsageCase{"BaudZero", {"--port", "COM5", "--baud", "0", "store"}, "not \"0\""},
        UsageCase{"FlagWithAValue", {"--port", "COM5", "--dry-run=no", "store"}, "--dry-run takes no value"},
        UsageCase{"HexBeforeMonitor", {"--port", "COM5", "--hex", "monitor"}, "unknown option \"--hex\""},
        UsageCase{
            "MissingFile", {"--port", "COM5", "send", "no-such-file.txt"}, "no-such-file.txt: no such file"},
        UsageCase{"DirectoryAsFile", {"--port", "COM5", "send", "."}, ".: it is a directory"},
        UsageCase{
            "OnlyWithoutAPortsFile", {"--port", "COM5", "--only", "hall", "store"}, "give --ports-file"},
        // One display under two spellings would get both texts run into each other.
        UsageCase{"HostInAnotherCase",
                  {"--port", "rfc2217://LOCALHOST:4001", "--port", "rfc2217://localhost:4001", "store"},
                  "rfc2217://LOCALHOST:4001 and rfc2217://localhost:4001 reach the same display"},
        UsageCase{"HostByTheOtherMode",
                  {"--port", "tcp://127.0.0.1:4001", "--port", "rfc2217://127.0.0.1:4001", "store"},
                  "reach the same display (127.0.0.1:4001)"},
        UsageCase{"TwoNamesOfOneAddress",
                  {"--port", "rfc2217://localhost:4001", "--port", "rfc2217://127.0.0.1:4001", "store"},
                  "reach the same display (127.0.0.1:4001)"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(Kv58RunTest, TooLongTextsAreRefusedWholeWithoutReadingPastTheLimit) {
  in.str(std::string(5000, 'x'));
  EXPECT_EQ(Run({"--port", "COM5", "store", "send", "-"}), kExitUsageError);
  EXPECT_THAT(err.str(), HasSubstr("standard input holds more than 1983 bytes"));
  EXPECT_TRUE(driver.calls.empty()) << "not even the store before it";
  EXPECT_EQ(in.tellg(), 1984) << "read no further than one byte past the limit";

  portVariable = "COM5x";
  EXPECT_EQ(Run({"store"}), kExitUsageError);
  EXPECT_THAT(err.str(), HasSubstr("KV58_PORT holds \"COM5x\""));
}

TEST_F(Kv58RunTest, HelpNamesEveryCommandOptionAndExitStatusAndVersionIsOneLine) {
  ASSERT_EQ(Run({"store", "--help"}), kExitDone);
  const std::string help = out.str();
  EXPECT_TRUE(help.starts_with("Usage: kv58 ")) << "help2man reads the first line";
  for (const char* word : {"ports",
                           "send FILE",
                           "send --template FILE",
                           "speed N",
                           "lines FIRST LAST",
                           "scroll TYPE",
                           "store",
                           "reset",
                           "monitor [--hex]",
                           "--port PORT",
                           "rfc2217://HOST:PORT",
                           "--ports-file FILE",
                           "--jobs N",
                           "KV58_PORT",
                           "--baud N",
                           "--dry-run",
                           "--quiet",
                           "--version",
                           "Exit status:",
                           "  1  device or port error",
                           "  2  usage error",
                           "FF 05 16"}) {
    EXPECT_THAT(help, HasSubstr(word));
  }
  out.str("");
  ASSERT_EQ(Run({"--version"}), kExitDone);
  EXPECT_EQ(out.str(), VersionText() + "\n");
  const std::string version = VersionText().substr(5);
  EXPECT_TRUE(VersionText().starts_with("kv58 ") && !version.empty() &&
              version.find_first_not_of("0123456789.") == std::string::npos)
      << VersionText();
}

} // namespace
} // namespace kv58::cli
