// The connect box: the only place where the port is opened and closed.

#include <QCheckBox>
#include <QSignalBlocker>
#include <optional>
#include <string>

#include "app/form1.h"
#include "app/widget_text.h"
#include "app/widgets/combo_box.h"
#include "common/int_parse.h"
#include "protocol/device_port.h"
#include "protocol/line_settings.h"

namespace kv58 {
namespace {

constexpr std::string_view kDisconnected = "PORT_NIEPOLACZONY";

} // namespace

void TForm1::CheckBoxConnectClick() {
  if (!CheckBoxConnect->isChecked()) {
    if (ComPort.IsOpen()) {
      (void)RunStep([this] { (void)CloseDevicePort(ComPort); });
    }
    DebugMemo.Log(kDisconnected);
    ApplyConnectionState();
    return;
  }
  if (closing_) { // a tick that was on its way when the window was closed
    const QSignalBlocker quiet(CheckBoxConnect);
    CheckBoxConnect->setChecked(false);
    return;
  }

  const std::string portText = ToBytes(ComboBoxPort->currentText());
  const std::string speedText = ToBytes(ComboBoxSpeed->currentText());
  // Whichever step failed, the log says that the port did not open. A device server's reason
  // (no answer, the wrong mode, in use) comes first; a local port's failure keeps its one line.
  OpenStep step = OpenStep::Open;
  std::optional<std::string> failure;
  std::string note;
  const bool ran = RunStep([&] {
    step = OpenDevicePort(ComPort, portText, ToIntOrDefault(speedText, kFallbackBaudRate));
    const auto& portName = ComPort.GetPortName();
    if (step == OpenStep::Open && portName && portName->IsNetwork()) {
      failure = ComPort.LastOpenFailure().detail;
    }
    // A device server that holds another rate, or a raw TCP port that carries none, says so.
    note = step == OpenStep::Ready ? ComPort.LineSettingsNote() : std::string();
  });
  if (failure) {
    DebugMemo.Log(*failure);
  }
  if (ran && step == OpenStep::Ready) {
    inputOverflowSaid_ = false;
    DebugMemo.Clear();
    DebugMemo.Log(PortConnectedText);
    DebugMemo.Log(portText);
    DebugMemo.Log("Baudrate->" + speedText);
    if (!note.empty()) {
      DebugMemo.Log(note);
    }
  } else {
    DebugMemo.Log(kOpenFailedText);
    CheckBoxConnect->setChecked(false); // runs this handler again: closes and logs
  }
  ApplyConnectionState();
}

} // namespace kv58
