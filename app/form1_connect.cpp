// The connect box: the only place where the port is opened and closed.

#include <QCheckBox>

#include "app/display_text.h"
#include "app/form1.h"
#include "app/widgets/combo_box.h"
#include "common/int_parse.h"
#include "protocol/line_settings.h"

namespace kv58 {
namespace {

constexpr std::string_view kOpenFailed = "BLAD_OTWARCIA_PORTU";
constexpr std::string_view kDisconnected = "PORT_NIEPOLACZONY";

bool OpenNamedPort(TCOMSocket& port, std::string_view portText) {
  return port.SetPortName(portText) && port.Open() && port.ReadSettings();
}

bool ConfigurePort(TCOMSocket& port) {
  return port.WriteSettings() && port.WriteQueueSizes() && port.WriteTimeouts() && port.ReadSettings();
}

} // namespace

void TForm1::CheckBoxConnectClick() {
  if (!CheckBoxConnect->isChecked()) {
    (void)ComPort.Close();
    DebugMemo.Log(kDisconnected);
    ApplyConnectionState();
    return;
  }

  const std::string portText = ToBytes(ComboBoxPort->currentText());
  bool connected = OpenNamedPort(ComPort, portText);
  if (connected) {
    const std::string speedText = ToBytes(ComboBoxSpeed->currentText());
    SetDeviceLineSettings(ComPort, ToIntOrDefault(speedText, kFallbackBaudRate));
    connected = ConfigurePort(ComPort);
    if (connected) {
      DebugMemo.Clear();
      DebugMemo.Log(PortConnectedText);
      DebugMemo.Log(portText);
      DebugMemo.Log("Baudrate->" + speedText);
    }
  }
  if (!connected) {
    DebugMemo.Log(kOpenFailed);
    CheckBoxConnect->setChecked(false); // runs this handler again: closes and logs
  }
  ApplyConnectionState();
}

} // namespace kv58
