// Construction, event wiring and the error guard of the main window.

#include "app/form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "app/log_window.h"
#include "app/prompts.h"
#include "app/widget_text.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/window_placement.h"
#include "protocol/device_port.h"

namespace kv58 {
namespace {

constexpr QPoint kDesignedPosition{711, 333};
constexpr std::string_view kTitleKey = "GLOBAL APPLICATION TITLE";

} // namespace

TForm1::TForm1(const FormServices& services, QWidget* parent)
    : QWidget(parent), ComPort(services.serialDriver), services_(services),
      driverThread_([] { QCoreApplication::processEvents(QEventLoop::AllEvents); }, services.startThread) {
  CreateControls();
  PlaceOnScreen();
  LanguageRows.LoadLanguageFile(services_.languageFile);
  ApplyTitle();
  ConnectEvents();
  AddLogWindowShortcut(*this, DebugMemo);
  Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  // Closes the port without a word to the device; no handler runs any more, and no step: the
  // driver thread is idle, and the close is made here, without taking events.
  Timer1->stop();
  (void)CloseDevicePort(ComPort);
}

std::string TForm1::TranslateCurrent(std::string_view key) const {
  return LanguageRows.Translate(key, LanguageIndex);
}

// The designed point, unless the whole frame would not fit on that screen's free area
// (small laptop screens): then just far enough up and left to fit.
void TForm1::PlaceOnScreen() {
  create(); // the platform window knows the frame: title bar and borders
  const QSize frame = size().grownBy(windowHandle() ? windowHandle()->frameMargins() : QMargins());
  const QScreen* screen = QGuiApplication::screenAt(kDesignedPosition);
  const QScreen* primary = QGuiApplication::primaryScreen();
  const auto area = screen ? std::optional(screen->availableGeometry()) : std::nullopt;
  move(PlaceFrame(frame, kDesignedPosition, area, primary ? primary->availableGeometry() : QRect()));
}

// The language file may name the application; the desktop then shows that name for it
// (the error box title among others). The window keeps its own caption.
void TForm1::ApplyTitle() {
  const std::string title = TranslateCurrent(kTitleKey);
  if (title != "{" + std::string(kTitleKey) + "}") {
    services_.prompts.SetApplicationTitle(FromBytes(title, LanguageRows.Encoding()).toStdString());
  }
  update();
}

void TForm1::ConnectEvents() {
  const auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(CheckBoxConnect, &QCheckBox::toggled, &TForm1::CheckBoxConnectClick);
  on(TrackBar1, &TTrackBar::Change, &TForm1::TrackBar1Change);
  on(TrackBar2, &TTrackBar::Change, &TForm1::TrackBar2Change);
  on(TrackBar3, &TTrackBar::Change, &TForm1::TrackBar3Change);
  on(RadioGroup1, &TRadioGroup::Click, &TForm1::RadioGroup1Click);
  on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
  on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
  on(Button5, &QPushButton::clicked, &TForm1::Button5Click);
  on(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
  on(ComboBoxPort, &TComboBox::DropDown, &TForm1::ComboBoxPortDropDown);
  on(ComboBoxLang, &TComboBox::DropDown, &TForm1::ComboBoxLangDropDown);
  on(ComboBoxLang, &TComboBox::Change, &TForm1::ComboBoxLangChange);
}

template <typename Handler> void TForm1::Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    services_.prompts.ShowError(error.what());
  } catch (...) {
    services_.prompts.ShowError(std::string());
  }
}

bool TForm1::RunStep(const std::function<void()>& step) {
  const DeferredInput::Waiting waiting(input_);
  switch (driverThread_.Run(step)) {
  case DriverThread::Outcome::Done:
    return true;
  case DriverThread::Outcome::Busy:
    return false;
  case DriverThread::Outcome::NoThread:
    DebugMemo.Log(std::string(kNoDriverThreadText) + driverThread_.StartFailure());
    return false;
  }
  return false;
}

void TForm1::PauseFromStep(std::uint32_t milliseconds) {
  driverThread_.OnCaller([this, milliseconds] { PauseWithoutReceiving(milliseconds); });
}

void TForm1::LogFromStep(std::string_view line) {
  driverThread_.OnCaller([this, line] { DebugMemo.Log(line); });
}

// Whatever is waiting, the window goes at once; a step still running ends soon after, asked
// to by `stopDeviceWaits`. An upload ends its text first (UploadSession).
void TForm1::closeEvent(QCloseEvent* event) {
  DropInputOnClose();
  services_.stopDeviceWaits();
  QWidget::closeEvent(event);
}

void TForm1::DropInputOnClose() {
  closing_ = true;
  if (const std::size_t dropped = input_.Drop(); dropped > 0) {
    DebugMemo.Log(std::string(kInputDroppedText) + std::to_string(dropped));
  }
}

void TForm1::FormCreate() {
  ComboBoxLangDropDown();
  ComboBoxLangChange();
}

} // namespace kv58
