#pragma once
// TForm1: the one window of the controller. It owns the serial port, builds the controls,
// wires their events to the handlers and turns what the core reports into widget texts.
// The handlers are named after their control and event; each runs inside a guard that
// shows an escaping error in the error box and lets the program go on. Everything that
// reaches the port runs as a step on the window's driver thread; what the user does meanwhile
// waits, and a close drops it.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "app/deferred_input.h"
#include "app/form_services.h"
#include "common/debug_log.h"
#include "lang/language_table.h"
#include "protocol/device_command.h"
#include "protocol/receive_monitor.h"
#include "serial/com_socket.h"

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kv58 {

class TComboBox;
class TRadioGroup;
class TTrackBar;
class TValueLabel;

class TForm1 : public QWidget {
  Q_OBJECT
public:
  // Throws when the language file exists but cannot be read; the caller ends start-up.
  explicit TForm1(const FormServices& services, QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The controls keep the names they have always had in this window; what each is for is
  // said beside it.
  TComboBox* ComboBoxPort = nullptr;    // the port name, COMn; its list is filled as it opens
  TComboBox* ComboBoxSpeed = nullptr;   // the line speed in bit/s, typed or picked
  QCheckBox* CheckBoxConnect = nullptr; // ticked: the port is open and the controls below work
  DebugLog DebugMemo;                   // the log's lines, never shown here (Ctrl+L shows them)
  QTimer* Timer1 = nullptr;             // once a second: takes what the display sent off the line
  QPushButton* Button5 = nullptr;       // "Wyślij tekst": pick a text file and upload it
  QLabel* Label1 = nullptr;             // "Ilość znaków =", before Label3
  QLineEdit* EditHorizFile = nullptr;   // the path of the text file last picked
  TRadioGroup* RadioGroup1 = nullptr;   // kind of scroll: none, vertical, horizontal (sent at once)
  QPushButton* Button1 = nullptr;       // "Zapisz": store the settings in the display's EEPROM
  QLabel* Label8 = nullptr;             // "max  1983": the longest text the display takes
  QGroupBox* GroupBox1 = nullptr;       // "Ustawienia scrollu": frames the three sliders below
  QGroupBox* GroupBox2 = nullptr;       // "Pierwsza linia": frames TrackBar3
  TTrackBar* TrackBar3 = nullptr;       // first display line 1..22, value shown in Label2
  TValueLabel* Label2 = nullptr;        // TrackBar3's value
  QGroupBox* GroupBox3 = nullptr;       // "Ostatnia linia": frames TrackBar2
  TTrackBar* TrackBar2 = nullptr;       // last display line 1..22, value shown in Label6
  TValueLabel* Label6 = nullptr;        // TrackBar2's value
  QGroupBox* GroupBox4 = nullptr;       // "Szybkość": frames TrackBar1
  TTrackBar* TrackBar1 = nullptr;       // scroll speed 0..16, value shown in Label7
  TValueLabel* Label7 = nullptr;        // TrackBar1's value
  QPushButton* Button2 = nullptr;       // "Zeruj": reset the display
  TValueLabel* Label3 = nullptr;        // the size in bytes of the text file last picked
  QWidget* PanelMain = nullptr;         // fills the window and holds every control
  QLabel* Label4 = nullptr;             // "PORT", above ComboBoxPort
  QLabel* Label5 = nullptr;             // "JĘZYK", above ComboBoxLang
  TComboBox* ComboBoxLang = nullptr;    // the language: a column of lang.txt
  QLabel* Label9 = nullptr;             // ComboBoxSpeed's caption for assistive technology only:
                                        // no text, no size, nothing on screen

  // The log line of a port that failed to open, or whose device server's connection is gone.
  static constexpr std::string_view kOpenFailedText = "BLAD_OTWARCIA_PORTU";
  static constexpr std::string_view kConnectionGoneText =
      "the connection to the device server is gone (no answer, or it closed)";
  // The log line of a driver thread the system would not start, before the system's words.
  static constexpr std::string_view kNoDriverThreadText = "Nie można uruchomić wątku portu: ";
  // The log line of a close that dropped the user's input held during a device step, before
  // how many clicks and key presses it dropped.
  static constexpr std::string_view kInputDroppedText =
      "Zamykanie okna: pominięto kliknięcia i klawisze czekające na koniec pracy z portem, liczba: ";

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

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateControls();
  // Names for assistive technology and tools that drive windows: each control's object name,
  // the captions tied to their boxes.
  void NameControls();
  // The names of controls whose captions are not on screen, in the language picked; a
  // language file without their rows leaves the built-in Polish.
  void NameUncaptionedControls();
  [[nodiscard]] QString WordOrBuiltIn(std::string_view key, const char* builtIn) const;
  void PlaceOnScreen();
  void ConnectEvents();
  void ApplyTitle();
  void PauseWithoutReceiving(std::uint32_t milliseconds);
  template <typename Handler> void Guarded(Handler handler);
  // Runs `step` on the driver thread while the window takes its events other than input;
  // false when it did not run: another step is running, or the thread could not be started
  // (logged).
  bool RunStep(const std::function<void()>& step);
  // One command frame as a step of its own, then its log line.
  void SendFrame(TDeviceCommand code, std::uint8_t parameter = 0);
  // For a step: `pause` (the receive timer held) on the window's thread.
  void PauseFromStep(std::uint32_t milliseconds);
  // For a step: a log line, written on the window's thread.
  void LogFromStep(std::string_view line);
  // The close was asked for: what the user did before it and still waits is dropped, and
  // no connection opens after it.
  void DropInputOnClose();

  FormServices services_;
  ReceiveMonitor receiver_;
  bool inputOverflowSaid_ = false;
  DeferredInput input_;
  DriverThread driverThread_;
  bool closing_ = false; // the window was asked to close
};

} // namespace kv58
