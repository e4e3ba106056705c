// The connect box: the only place where the port is opened and closed.

#include <QCheckBox>

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
    (void)CloseDevicePort(ComPort);
    DebugMemo.Log(kDisconnected);
    ApplyConnectionState();
    return;
  }

  const std::string portText = ToBytes(ComboBoxPort->currentText());
  const std::string speedText = ToBytes(ComboBoxSpeed->currentText());
  // Whichever step failed, the log says that the port did not open. A device server's reason
  // (no answer, the wrong mode, in use) comes first; a local port's failure keeps its one line.
  const OpenStep step = OpenDevicePort(ComPort, portText, ToIntOrDefault(speedText, kFallbackBaudRate));
  const bool connected = step == OpenStep::Ready;
  const auto& portName = ComPort.GetPortName();
  if (step == OpenStep::Open && portName && portName->IsNetwork()) {
    DebugMemo.Log(ComPort.LastOpenFailure().detail);
  }
  if (connected) {
    inputOverflowSaid_ = false;
    DebugMemo.Clear();
    DebugMemo.Log(PortConnectedText);
    DebugMemo.Log(portText);
    DebugMemo.Log("Baudrate->" + speedText);
    // A device server that holds another rate, or a raw TCP port that carries none, says so.
    if (const std::string note = ComPort.LineSettingsNote(); !note.empty()) {
      DebugMemo.Log(note);
    }
  } else {
    DebugMemo.Log(kOpenFailedText);
    CheckBoxConnect->setChecked(false); // runs this handler again: closes and logs
  }
  ApplyConnectionState();
}

} // namespace kv58
