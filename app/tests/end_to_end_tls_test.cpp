// The real window, through its PORT box, to a display reached inside TLS: ser2net's ssl
// accepter on 127.0.0.1 in front of kv58-sim's terminal, with a certificate the test makes. A pinned server
// opens and takes the window's frames; an unpinned one is refused with its fingerprint and the pin to add in
// the log.

#include <QCheckBox>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/event_pause.h"
#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/track_bar.h"
#include "common/testing/scratch_dir.h"
#include "serial/serial_driver.h"
#include "tools/kv58/tests/ser2net_process.h"
#include "tools/kv58/tests/test_certificates.h"
#include "tools/kv58_sim/testing/sim_process.h"

namespace kv58 {
namespace {

using cli::test_support::Ser2net;
using kv58::testing::ScratchDir;
using sim::test_support::SimProcess;
using ::testing::HasSubstr;

class EndToEndTlsTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access(cli::test_support::kSer2net, X_OK) != 0 || !cli::test_support::Output("openssl version")) {
      GTEST_SKIP() << "ser2net or openssl is not installed (scripts/test installs them)";
    }
    ASSERT_TRUE(cli::test_support::MakeCertificates(config.Path()));
    fingerprint = cli::test_support::Fingerprint(config.Path(), "ec");
    const auto pty = simulator.StartLinked("COM7", config.Path());
    ASSERT_TRUE(pty.has_value());
    server = std::make_unique<Ser2net>(
        config, std::vector<Ser2net::Line>{{true, *pty, cli::test_support::TlsLayer(config.Path(), "ec")}});
    ASSERT_TRUE(server->Listening());
    form = std::make_unique<TForm1>(
        FormServices{driver, ports, prompts, EventProcessingPause(), "no-such-dir/lang.txt"});
  }

  void ConnectWindow(const std::string& name) {
    form->ComboBoxPort->setEditText(QString::fromStdString(name));
    form->ComboBoxSpeed->setEditText(QStringLiteral("9600"));
    form->CheckBoxConnect->setChecked(true);
  }

  [[nodiscard]] std::string Address() const {
    return "rfc2217+tls://127.0.0.1:" + std::to_string(server->ports[0]);
  }

  ScratchDir config;
  SimProcess simulator;
  std::unique_ptr<Ser2net> server;
  std::string fingerprint; // "AB:CD:...", as openssl prints it
  std::unique_ptr<SerialDriver> systemDriver = NewSystemSerialDriver();
  SerialDriver& driver = *systemDriver;
  testing::FakePortSource ports;
  testing::ScriptedPrompts prompts;
  std::unique_ptr<TForm1> form;
};

TEST_F(EndToEndTlsTest, APinnedServerOpensAndTheWindowsFramesArrive) {
  ConnectWindow(Address() + "?pin=SHA256:" + fingerprint);
  ASSERT_TRUE(form->ComPort.IsOpen()) << ::testing::PrintToString(form->DebugMemo.Lines());
  EXPECT_EQ(simulator.NextEvent(), "open");
  form->TrackBar1->SetPosition(7);
  EXPECT_EQ(simulator.NextEvent(), "speed 7");
  form->CheckBoxConnect->setChecked(false);
  EXPECT_EQ(simulator.NextEvent(), "hangup");
}

TEST_F(EndToEndTlsTest, AnUnpinnedServerIsRefusedWithThePinToAddInTheLog) {
  ConnectWindow(Address());
  EXPECT_FALSE(form->ComPort.IsOpen());
  EXPECT_FALSE(form->CheckBoxConnect->isChecked());
  std::string pin;
  for (const char c : fingerprint) {
    if (c != ':') {
      pin += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  EXPECT_THAT(::testing::PrintToString(form->DebugMemo.Lines()), HasSubstr("?pin=SHA256:" + pin));
}

} // namespace
} // namespace kv58
