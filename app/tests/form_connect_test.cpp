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

TEST_F(ConnectTest, LineSettingsAreWrittenOverWhatTheDriverReported) {
  DCB reported;
  reported.DCBlength = 28;
  reported.fParity = 1;
  reported.fTXContinueOnXoff = 1;
  reported.XonLim = 2048;
  reported.XoffLim = 512;
  reported.XonChar = 0x11;
  reported.XoffChar = 0x13;
  reported.EofChar = 0x1A;
  reported.fOutX = 1;
  reported.fRtsControl = RTS_CONTROL_HANDSHAKE;
  reported.fDtrControl = DTR_CONTROL_ENABLE;
  reported.Parity = EVENPARITY;
  reported.StopBits = TWOSTOPBITS;
  reported.ByteSize = 7;
  harness.driver.reportedDcb = reported;

  harness.Connect("COM3", "19200");

  DCB expected = reported;
  expected.BaudRate = 19200;
  expected.ByteSize = 8;
  expected.Parity = NOPARITY;
  expected.StopBits = ONESTOPBIT;
  expected.fDtrControl = DTR_CONTROL_DISABLE;
  expected.fRtsControl = RTS_CONTROL_DISABLE;
  expected.fOutX = 0;
  expected.fBinary = 1;
  ASSERT_TRUE(harness.driver.lastDcb.has_value());
  EXPECT_EQ(*harness.driver.lastDcb, expected) << "only the device's members change";

  COMMTIMEOUTS timeouts{100, 10, 100, 10, 100};
  EXPECT_EQ(harness.driver.lastTimeouts, timeouts);
  EXPECT_EQ(harness.driver.lastQueueSizes, (std::pair<std::uint32_t, std::uint32_t>{1024, 1024}));
}

TEST_F(ConnectTest, SpeedTextThatIsNoNumberOpensAt500000AndIsLoggedAsTyped) {
  harness.Connect("COM3", "abc");
  EXPECT_EQ(harness.driver.lastDcb->BaudRate, 500000u);
  EXPECT_EQ(harness.Log().back(), "Baudrate->abc");
}

// Each of the seven steps failing in turn ends the same way: two lines, box unticked,
// port closed, controls off.
TEST_F(ConnectTest, AnyFailingStepUnticksTheBoxAndClosesThePort) {
  struct Failure {
    const char* call;
    std::vector<std::string> callsMade;
  };
  const std::vector<Failure> failures = {
      {"CreateFileA", {"CreateFileA"}},
      {"GetCommState", {"CreateFileA", "GetCommState", "CloseHandle"}},
      {"SetCommState", {"CreateFileA", "GetCommState", "SetCommState", "CloseHandle"}},
      {"SetupComm", {"CreateFileA", "GetCommState", "SetCommState", "SetupComm", "CloseHandle"}},
      {"SetCommTimeouts",
       {"CreateFileA", "GetCommState", "SetCommState", "SetupComm", "SetCommTimeouts", "CloseHandle"}},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.call);
    harness.driver.ClearRecord();
    harness.driver.failing = {failure.call};
    form().DebugMemo.Log("before");
    harness.Connect();

    EXPECT_EQ(harness.driver.CallNames(), failure.callsMade);
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

TEST_F(ConnectTest, UntickingClosesAndLogsEvenWhenNothingWasOpen) {
  harness.Connect();
  harness.driver.ClearRecord();
  form().CheckBoxConnect->setChecked(false);
  EXPECT_THAT(harness.driver.CallNames(), ElementsAre("CloseHandle"));
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
