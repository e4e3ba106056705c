// Ticking and unticking the connect box.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;

class ConnectTest : public ::testing::Test {
protected:
  void SetUp() override {
    harness.Create();
    harness.driver.ClearRecord();
  }
  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
  [[nodiscard]] bool DependentsEnabled() const { return harness.form->Button1->isEnabled(); }
  // The receive timer runs exactly while the port is open, once a second.
  [[nodiscard]] bool Receiving() const {
    return harness.form->Timer1->isActive() && harness.form->Timer1->interval() == 1000;
  }
};

TEST_F(ConnectTest, SuccessfulConnectRunsTheSevenStepsAndLeavesThreeLogLines) {
  form().PortConnectedText = "port connected";
  form().DebugMemo.Log("older line");
  harness.Connect("COM3", "115200");

  EXPECT_THAT(harness.driver.CallNames(), ElementsAre("CreateFileA", "GetCommState", "SetCommState",
                                                      "SetupComm", "SetCommTimeouts", "GetCommState"));
  EXPECT_EQ(harness.driver.calls.front().text, "COM3");
  EXPECT_THAT(harness.Log(), ElementsAre("port connected", "COM3", "Baudrate->115200"));
  EXPECT_TRUE(form().CheckBoxConnect->isChecked());
  EXPECT_TRUE(form().ComPort.IsOpen());
  EXPECT_TRUE(DependentsEnabled());
  EXPECT_TRUE(Receiving());
}

// The display's line settings themselves are pinned with the open sequence in protocol/tests.
TEST_F(ConnectTest, TheSpeedBoxsRateReachesTheDriver) {
  harness.Connect("COM3", "19200");
  ASSERT_TRUE(harness.driver.lastDcb.has_value());
  EXPECT_EQ(harness.driver.lastDcb->BaudRate, 19200u);
}

TEST_F(ConnectTest, SpeedTextThatIsNoNumberOpensAt500000AndIsLoggedAsTyped) {
  harness.Connect("COM3", "abc");
  EXPECT_EQ(harness.driver.lastDcb->BaudRate, 500000u);
  EXPECT_EQ(harness.Log().back(), "Baudrate->abc");
}

// Each step failing in turn ends the same way: two lines, box unticked, port closed, controls
// off. Which calls the open makes before it stops is pinned in protocol/tests.
TEST_F(ConnectTest, AnyFailingStepUnticksTheBoxAndClosesThePort) {
  for (const char* call : {"CreateFileA", "GetCommState", "SetCommState", "SetupComm", "SetCommTimeouts"}) {
    SCOPED_TRACE(call);
    harness.driver.ClearRecord();
    harness.driver.failing = {call};
    form().DebugMemo.Log("before");
    harness.Connect();

    const auto calls = harness.driver.CallNames();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::string(call) == "CreateFileA" ? "CreateFileA" : "CloseHandle")
        << "a port that opened is closed again";
    const auto& log = harness.Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(log.end() - 3, log.end()),
                ElementsAre("before", "BLAD_OTWARCIA_PORTU", "PORT_NIEPOLACZONY"))
        << "the log is not emptied on failure";
    EXPECT_FALSE(form().CheckBoxConnect->isChecked());
    EXPECT_FALSE(form().ComPort.IsOpen());
    EXPECT_FALSE(DependentsEnabled());
    EXPECT_FALSE(form().Timer1->isActive());
  }
}

TEST_F(ConnectTest, PortNamesTheChannelRefusesFailTheSameWay) {
  for (const char* port : {"com3", "LPT1", "COMX", "", "COM0"}) {
    SCOPED_TRACE(port);
    harness.driver.ClearRecord();
    harness.Connect(QString::fromUtf8(port));
    EXPECT_THAT(harness.driver.CallNames(), ElementsAre()) << "no device is touched";
    EXPECT_EQ(harness.Log().back(), "PORT_NIEPOLACZONY");
    EXPECT_FALSE(form().CheckBoxConnect->isChecked());
  }
}

TEST_F(ConnectTest, ANetworkPortOpensByItsNameAndAFailureLogsTheServersReason) {
  const std::string name = "rfc2217://192.168.1.20:4001";
  harness.driver.absentPorts = {name};
  harness.driver.openFailure = OpenFailure{OpenFailure::Kind::Other, "no answer to WILL COM-PORT-OPTION"};
  form().DebugMemo.Clear();
  harness.Connect(QString::fromStdString(name));
  EXPECT_EQ(harness.driver.calls.front().text, name);
  EXPECT_THAT(harness.Log(),
              ElementsAre("no answer to WILL COM-PORT-OPTION", "BLAD_OTWARCIA_PORTU", "PORT_NIEPOLACZONY"));

  harness.driver.absentPorts.clear();
  form().DebugMemo.Clear();
  harness.Connect(QString::fromStdString(name));
  EXPECT_TRUE(form().CheckBoxConnect->isChecked());
  EXPECT_THAT(harness.Log(), ElementsAre(::testing::_, name, "Baudrate->115200"));
}

TEST_F(ConnectTest, AbsentPortLeavesTheBoxUntickedAndTheControlsOff) {
  harness.driver.absentPorts = {"COM7"};
  form().DebugMemo.Clear();
  harness.Connect("COM7");
  EXPECT_THAT(harness.Log(), ElementsAre("BLAD_OTWARCIA_PORTU", "PORT_NIEPOLACZONY"));
  EXPECT_FALSE(form().CheckBoxConnect->isChecked());
  EXPECT_FALSE(DependentsEnabled());
  EXPECT_FALSE(form().EditHorizFile->isEnabled());
  EXPECT_FALSE(form().Timer1->isActive());
}

// A device server's connection that goes dead is noticed at the next tick: the box is
// unticked as for a port that failed to open. A local port is left to its owner.
TEST_F(ConnectTest, ADeadDeviceServerConnectionUnticksTheBoxAtTheNextTick) {
  harness.Connect("rfc2217://device-server:4001");
  ASSERT_TRUE(form().ComPort.IsOpen());
  harness.driver.failing = {"ClearCommError"};
  form().Timer1Timer();
  EXPECT_FALSE(form().CheckBoxConnect->isChecked());
  EXPECT_FALSE(form().ComPort.IsOpen());
  const auto& log = harness.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "the connection to the device server is gone (no answer, or it closed)");
  EXPECT_EQ(log[log.size() - 2], "BLAD_OTWARCIA_PORTU");
  EXPECT_EQ(log.back(), "PORT_NIEPOLACZONY");

  harness.driver.failing.clear();
  harness.Connect("COM3");
  harness.driver.failing = {"ClearCommError"};
  form().Timer1Timer();
  EXPECT_TRUE(form().CheckBoxConnect->isChecked());
}

TEST_F(ConnectTest, UntickingClosesAndLogsEvenWhenNothingWasOpen) {
  harness.Connect();
  harness.driver.ClearRecord();
  form().CheckBoxConnect->setChecked(false);
  EXPECT_THAT(harness.driver.CallNames(), ElementsAre("FlushFileBuffers", "CloseHandle"))
      << "what was written leaves before the port closes";
  EXPECT_EQ(harness.Log().back(), "PORT_NIEPOLACZONY");
  EXPECT_FALSE(DependentsEnabled());
  EXPECT_FALSE(form().Timer1->isActive()) << "closed, the timer stops";

  // The untick handler runs whatever the port's state: here, force a run with the port closed.
  form().CheckBoxConnect->blockSignals(true);
  form().CheckBoxConnect->setChecked(true);
  form().CheckBoxConnect->blockSignals(false);
  harness.driver.ClearRecord();
  form().CheckBoxConnect->setChecked(false);
  EXPECT_TRUE(harness.driver.calls.empty());
  EXPECT_EQ(harness.Log().back(), "PORT_NIEPOLACZONY");
}

TEST_F(ConnectTest, AFailingCloseIsNotReportedAndTheBoxIsUntickedAllTheSame) {
  harness.Connect();
  harness.driver.failing = {"CloseHandle"};
  form().CheckBoxConnect->setChecked(false);
  EXPECT_FALSE(form().CheckBoxConnect->isChecked());
  EXPECT_EQ(harness.Log().back(), "PORT_NIEPOLACZONY");
  EXPECT_TRUE(form().ComPort.IsOpen() && Receiving()) << "the port still held is still drained";
  harness.driver.failing.clear();
}

TEST_F(ConnectTest, ChangingPortOrSpeedWhileConnectedWaitsForTheNextConnect) {
  harness.Connect("COM3", "9600");
  harness.driver.ClearRecord();
  form().ComboBoxPort->setEditText("COM4");
  form().ComboBoxSpeed->setEditText("115200");
  EXPECT_TRUE(harness.driver.calls.empty());
  form().CheckBoxConnect->setChecked(false);
  harness.Connect("COM4", "115200");
  EXPECT_EQ(harness.driver.lastDcb->BaudRate, 115200u);
  EXPECT_EQ(harness.Log()[1], "COM4");
  EXPECT_TRUE(Receiving()) << "connected again, the timer runs again";
}

} // namespace
} // namespace kv58
