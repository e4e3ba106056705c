// The real window on the real POSIX driver, talking to kv58-sim on a pseudo-terminal that
// the simulator links into a temporary port map directory. Waits have generous deadlines
// only so that a broken run cannot hang; no test depends on the machine being fast.

#include <QCheckBox>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>

#include "app/tests/form_harness.h"
#include "app/tests/sim_events.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "common/testing/scratch_dir.h"
#include "serial/port_discovery.h"
#include "serial/port_source_posix.h"
#include "serial/serial_driver_posix.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58 {
namespace {

namespace fs = std::filesystem;
using kv58::testing::kLeastScrollPauseSeen;
using kv58::testing::NextTimedEvent;
using kv58::testing::ScratchDir;
using kv58::testing::TimedEvent;
using sim::test_support::SimProcess;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr const char* kPort = "COM201"; // outside the fixed rule: only the map names it

class EndToEndTest : public ::testing::Test {
protected:
  [[nodiscard]] PortLocations Locations() const {
    return {config.Path() / "kv58" / "ports", config.Path() / "no-devices"};
  }

  void StartSimulator(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--link", kPort};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(simulator.Start(args, config.Path()));
    ASSERT_THAT(NextEvent().text, ::testing::StartsWith("pty "));
    ASSERT_THAT(NextEvent().text, ::testing::StartsWith("link "));
  }

  void CreateWindow(const fs::path& languageFile = "no-such-dir/lang.txt") {
    form = std::make_unique<TForm1>(FormServices{driver, ports, prompts, SleepingPause(), languageFile});
  }

  void ConnectWindow() {
    form->ComboBoxPort->setEditText(kPort);
    form->ComboBoxSpeed->setEditText("115200");
    form->CheckBoxConnect->setChecked(true);
    ASSERT_TRUE(form->ComPort.IsOpen()) << ::testing::PrintToString(form->DebugMemo.Lines());
    ASSERT_EQ(NextEvent().text, "open");
  }

  TimedEvent NextEvent() { return NextTimedEvent(simulator); }
  std::vector<std::string> NextEventTexts(std::size_t count) {
    return testing::NextEventTexts(simulator, count);
  }

  ScratchDir config;
  SimProcess simulator;
  PosixSerialDriver driver{Locations()};
  PosixPortSource ports{Locations(), [](const fs::path&) { return false; }};
  testing::ScriptedPrompts prompts;
  std::unique_ptr<TForm1> form;
};

TEST_F(EndToEndTest, SettingsReachTheDeviceAsFramesInOrder) {
  StartSimulator();
  CreateWindow();
  ConnectWindow();

  form->TrackBar2->SetPosition(8);
  form->TrackBar3->SetPosition(10); // drags the last line along, which is sent first
  EXPECT_THAT(NextEventTexts(3), ElementsAre("last-line 8", "last-line 10", "first-line 10"));

  form->RadioGroup1->SetItemIndex(2);
  const TimedEvent scrollType = NextEvent();
  const TimedEvent reset = NextEvent();
  EXPECT_EQ(scrollType.text, "scroll-type 2 (horizontal)");
  EXPECT_EQ(reset.text, "reset");
  EXPECT_GE(reset.milliseconds - scrollType.milliseconds, kLeastScrollPauseSeen)
      << "the display needs a pause before the reset";

  form->Button1Click();
  form->Button2Click();
  EXPECT_THAT(NextEventTexts(2), ElementsAre("store", "reset"));
}

TEST_F(EndToEndTest, WhatTheDeviceSendsIsDrainedByTheNextTick) {
  StartSimulator({"--send-hex", "41 42 43"});
  CreateWindow();
  ConnectWindow();

  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Receiver().Line() == "ABC"; }, 5000))
      << "the timer took the bytes off the port";
  EXPECT_EQ(form->ComPort.BytesWaiting(), 0u);
  form->CheckBoxConnect->setChecked(false);
  EXPECT_FALSE(form->Timer1->isActive()) << "no port, no tick";
}

TEST_F(EndToEndTest, UntickingClosesTheLineAndTheHeldPortIsExclusive) {
  StartSimulator();
  CreateWindow();
  ConnectWindow();

  TCOMSocket second(driver);
  ASSERT_TRUE(second.SetPortName(kPort));
  EXPECT_FALSE(second.Open()) << "the window holds the port";

  form->CheckBoxConnect->setChecked(false);
  EXPECT_EQ(NextEvent().text, "hangup");
  EXPECT_TRUE(second.Open()) << "released on close";
}

TEST_F(EndToEndTest, ATextFileReachesTheDeviceWholeInPagesASecondApart) {
  StartSimulator();
  CreateWindow();
  ConnectWindow();
  const fs::path file = config.Path() / "text.txt";
  std::string text;
  for (int i = 0; i < 300; ++i) {
    text.push_back(static_cast<char>('a' + i % 26));
  }
  std::ofstream(file, std::ios::binary) << text;
  prompts.files.emplace_back(file);

  form->Button5Click();

  const TimedEvent upload = NextEvent();
  static const std::regex shape(
      R"(text 300 bytes, pages at 0, (\d+) ms \(256 \+ 44 bytes\), end at \d+ ms: "(.*)\")");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(upload.text, match, shape)) << upload.text;
  EXPECT_EQ(match[2].str(), text);
  const long secondPage = std::stol(match[1].str());
  // The simulator stamps a page when it reads its first byte; on a loaded machine a late read
  // shortens the gap by a scheduler tick or more, where a missing pause would leave almost none.
  EXPECT_GE(secondPage, 750) << "the second page waits for the pause after the first";
  EXPECT_LT(secondPage, 5000);
  EXPECT_EQ(form->DebugMemo.Lines().back(), "Wysłano tekst do urządzenia 300 znaków");
}

TEST_F(EndToEndTest, ALanguageSwitchSendsTheScrollTypeThenAReset) {
  StartSimulator();
  const fs::path language = config.Path() / "lang.txt";
  std::ofstream(language, std::ios::binary) << "Polski\tEnglish\t\nBrak\tOFF\t\n";
  CreateWindow(language);
  ConnectWindow();

  form->ComboBoxLang->setCurrentIndex(1);
  emit form->ComboBoxLang->activated(1);

  EXPECT_THAT(NextEventTexts(2), ElementsAre("scroll-type 0 (none)", "reset"));
}

TEST_F(EndToEndTest, TheSimulatorsPortIsListedWhileItRuns) {
  std::vector<std::string> names;
  ListSerialPorts(ports, names);
  EXPECT_THAT(names, Not(Contains(kPort)));

  StartSimulator();
  ListSerialPorts(ports, names);
  EXPECT_THAT(names, Contains(kPort));

  simulator.Signal(SIGTERM);
  ASSERT_EQ(simulator.WaitForExit(), 0);
  ListSerialPorts(ports, names);
  EXPECT_THAT(names, Not(Contains(kPort)));
}

} // namespace
} // namespace kv58
