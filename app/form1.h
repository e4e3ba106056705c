#pragma once
// TForm1: the one window of the controller. It owns the serial port, builds the controls,
// wires their events to the handlers and turns what the core reports into widget texts.
// The handlers are named after their control and event; each runs inside a guard that
// shows an escaping error in the error box and lets the program go on.

#include <QWidget>
#include <cstdint>
#include <string>

#include "app/form_services.h"
#include "common/debug_log.h"
#include "lang/language_table.h"
#include "protocol/receive_monitor.h"
#include "serial/com_socket.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kv58 {

class TComboBox;
class TRadioGroup;
class TTrackBar;

class TForm1 : public QWidget {
  Q_OBJECT
public:
  // Throws when the language file exists but cannot be read; the caller ends start-up.
  explicit TForm1(const FormServices& services, QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Controls, named as the device's documentation names them.
  TComboBox* ComboBoxPort = nullptr;
  TComboBox* ComboBoxSpeed = nullptr;
  QCheckBox* CheckBoxConnect = nullptr;
  DebugLog DebugMemo; // never shown: a list of lines
  QTimer* Timer1 = nullptr;
  QPushButton* Button5 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* EditHorizFile = nullptr;
  TRadioGroup* RadioGroup1 = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* Label8 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  TTrackBar* TrackBar3 = nullptr;
  QLabel* Label2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  TTrackBar* TrackBar2 = nullptr;
  QLabel* Label6 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  TTrackBar* TrackBar1 = nullptr;
  QLabel* Label7 = nullptr;
  QPushButton* Button2 = nullptr;
  QLabel* Label3 = nullptr;
  QWidget* PanelMain = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  TComboBox* ComboBoxLang = nullptr;

  TCOMSocket ComPort;
  LanguageTable LanguageRows;
  std::int32_t LanguageIndex = 0;
  std::string PortConnectedText;

  // The connection-dependent controls follow the connect box.
  void ApplyConnectionState();
  [[nodiscard]] std::string TranslateCurrent(std::string_view key) const;

  // Handlers.
  void FormCreate();
  void CheckBoxConnectClick();
  void TrackBar1Change();
  void TrackBar2Change();
  void TrackBar3Change();
  void RadioGroup1Click();
  void Button1Click();
  void Button2Click();
  void Button5Click();
  void Timer1Timer();
  void ComboBoxPortDropDown();
  void ComboBoxLangDropDown();
  void ComboBoxLangChange();

  [[nodiscard]] const ReceiveMonitor& Receiver() const { return receiver_; }

private:
  void CreateControls();
  void PlaceOnScreen();
  void ConnectEvents();
  void ApplyTitle();
  template <typename Handler> void Guarded(Handler handler);

  FormServices services_;
  ReceiveMonitor receiver_;
};

} // namespace kv58
