// The real window on the drivers the program itself builds (the router, the network driver,
// each step on the window's driver thread), talking to kv58-sim standing in for a display behind a
// device server (--listen): the PORT box holds the simulator's address, rfc2217:// or tcp://.
// What arrives at the display, byte for byte, and what the display sends back.

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

#include "app/event_pause.h"
#include "app/tests/form_harness.h"
#include "app/tests/sim_events.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "common/testing/scratch_dir.h"
#include "protocol/text_upload.h"
#include "serial/serial_driver.h"
#include "tools/kv58_sim/testing/awkward_text.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58 {
namespace {

using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using sim::test_support::TelnetAwkwardText;
using ::testing::ElementsAre;
using ::testing::StartsWith;

// The simulator's JSON lines: byte n of the display's data is the character U+00nn.
QJsonObject ParseJson(const std::string& line) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

std::string Latin1Bytes(const QJsonValue& value) { return value.toString().toLatin1().toStdString(); }

std::vector<int> Numbers(const QJsonValue& value) {
  std::vector<int> numbers;
  for (const QJsonValue& number : value.toArray()) {
    numbers.push_back(number.toInt());
  }
  return numbers;
}

class EndToEndListenTest : public ::testing::TestWithParam<std::string> {
protected:
  [[nodiscard]] bool Telnet() const { return GetParam() == "rfc2217"; }

  void StartSimulator(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"--listen", GetParam() + "://127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(simulator.Start(args, config.Path()));
    url = simulator.ReadListeningUrl();
    ASSERT_THAT(url, StartsWith(GetParam() + "://127.0.0.1:"));
  }

  // The window as the program builds it, the same pause and the same drivers.
  void CreateWindow() {
    form = std::make_unique<TForm1>(
        FormServices{driver, ports, prompts, EventProcessingPause(), "no-such-dir/lang.txt"});
  }

  void ConnectWindow() {
    form->ComboBoxPort->setEditText(QString::fromStdString(url));
    form->ComboBoxSpeed->setEditText(QString::number(kRate));
    form->CheckBoxConnect->setChecked(true);
    ASSERT_TRUE(form->ComPort.IsOpen()) << ::testing::PrintToString(form->DebugMemo.Lines());
  }

  // What a connection shows before the window sends anything: over RFC 2217, the line the
  // window set, once.
  [[nodiscard]] std::vector<std::string> OpeningEvents() const {
    if (Telnet()) {
      return {"open", "line " + std::to_string(kRate) + " 8N1"};
    }
    return {"open"};
  }

  std::vector<std::string> NextEventTexts(std::size_t count) {
    return testing::NextEventTexts(simulator, count);
  }
  QJsonObject NextJson() { return ParseJson(simulator.ReadLine().value_or("")); }

  static constexpr int kRate = 9600;
  ScratchDir config;
  SimProcess simulator;
  std::string url;
  std::unique_ptr<SerialDriver> systemDriver = NewSystemSerialDriver();
  SerialDriver& driver = *systemDriver;
  testing::FakePortSource ports;
  testing::ScriptedPrompts prompts;
  std::unique_ptr<TForm1> form;
};

TEST_P(EndToEndListenTest, SettingsReachTheDisplayAsFramesInOrder) {
  StartSimulator();
  CreateWindow();
  ConnectWindow();
  EXPECT_EQ(NextEventTexts(OpeningEvents().size()), OpeningEvents());

  form->TrackBar1->SetPosition(7);
  form->TrackBar2->SetPosition(8);
  form->TrackBar3->SetPosition(10); // drags the last line along, which is sent first
  EXPECT_THAT(NextEventTexts(4), ElementsAre("speed 7", "last-line 8", "last-line 10", "first-line 10"));

  // The pause between these two is pinned where it is made (protocol/tests): the simulator
  // stamps what it reads, and a late read on a busy machine would shorten it here.
  form->RadioGroup1->SetItemIndex(2);
  form->Button1Click();
  form->Button2Click();
  form->CheckBoxConnect->setChecked(false);
  EXPECT_THAT(NextEventTexts(5),
              ElementsAre("scroll-type 2 (horizontal)", "reset", "store", "reset", "hangup"));
}

TEST_P(EndToEndListenTest, AFullTextOfTelnetsOwnBytesArrivesWholeInPages) {
  StartSimulator({"--json"});
  CreateWindow();
  ConnectWindow();
  EXPECT_EQ(NextJson()["event"].toString(), "open");
  if (Telnet()) {
    const QJsonObject line = NextJson();
    EXPECT_EQ(line["event"].toString(), "line");
    EXPECT_EQ(line["baud"].toInt(), kRate);
  }
  const std::string text = TelnetAwkwardText();
  const auto file = config.Path() / "text.txt";
  std::ofstream(file, std::ios::binary) << text;
  prompts.files.emplace_back(file);

  form->Button5Click();

  const QJsonObject upload = NextJson();
  ASSERT_EQ(upload["event"].toString(), "text");
  EXPECT_EQ(upload["bytes"].toInt(), static_cast<int>(kMaxTextBytes));
  EXPECT_FALSE(upload["truncated"].toBool());
  EXPECT_EQ(Latin1Bytes(upload["text"]), text);
  // A new page is a pause on the line; every page but the last full.
  EXPECT_THAT(Numbers(upload["page_bytes"]), ElementsAre(256, 256, 256, 256, 256, 256, 256, 191));
  const std::vector<int> starts = Numbers(upload["pages_ms"]);
  EXPECT_EQ(std::adjacent_find(starts.begin(), starts.end(), std::greater_equal<>()), starts.end())
      << "pages in order";
  EXPECT_EQ(form->DebugMemo.Lines().back(), "Wysłano tekst do urządzenia 1983 znaków");
}

TEST_P(EndToEndListenTest, WhatTheDisplaySendsReachesTheWindowsLineUnchanged) {
  StartSimulator({"--send-hex", "41 ff ff 42 ff 43"});
  CreateWindow();
  ConnectWindow();

  const std::string sent = "A\xFF\xFF"
                           "B\xFF"
                           "C";
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Receiver().Line() == sent; }, 5000))
      << ::testing::PrintToString(form->Receiver().Line());
  form->CheckBoxConnect->setChecked(false);
  std::vector<std::string> expected = OpeningEvents();
  expected.emplace_back("hangup");
  EXPECT_EQ(NextEventTexts(expected.size()), expected) << "the window sent nothing";
}

INSTANTIATE_TEST_SUITE_P(Modes, EndToEndListenTest, ::testing::Values("rfc2217", "tcp"),
                         [](const auto& row) { return row.param; });

} // namespace
} // namespace kv58
