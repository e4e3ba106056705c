#include "app/application.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <initializer_list>
#include <memory>

#include "app/event_pause.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "common/stop_request.h"
#include "serial/port_discovery.h"
#include "serial/serial_driver.h"

namespace kv58 {

std::unique_ptr<TForm1> CreateMainWindow(const FormServices& services, Prompts& prompts) {
  try {
    return std::make_unique<TForm1>(services);
  } catch (const std::exception& error) {
    prompts.ShowError(error.what());
  } catch (...) {
    prompts.ShowError(std::string());
  }
  return nullptr;
}

namespace {

constexpr int kPooledThreadIdleMs = 1000;

constexpr std::initializer_list<int> kSmallIconSizes = {16, 32, 48};
constexpr std::initializer_list<int> kIconSizes = {16, 32, 48, 256};

// Every window of the program shows the icon the desktop shows. The PNGs are decoded by the
// reader built into Qt, named as PNG and not guessed from their content, which would load
// and ask every image-format plugin first.
void SetApplicationIcon(std::initializer_list<int> sizes) {
  QIcon icon;
  for (const int size : sizes) {
    QImageReader reader(QStringLiteral(":/icons/kv58-controller-%1.png").arg(size), "png");
    reader.setAutoDetectImageFormat(false);
    icon.addPixmap(QPixmap::fromImage(reader.read()));
  }
  QApplication::setWindowIcon(icon);
}

// Start-up ends with the first language pass, which tells the display the scroll type and
// then resets it, with a pause between that is taken whether the port is open or not. The
// window is complete by then: it goes on screen before that pause and is painted during it,
// instead of waiting for it; the large icon, which only task switchers show, is decoded then
// too. Later pauses are plain.
struct StartUp {
  bool running = true;
  bool windowShown = false;
};

Pause ShowWindowBeforeStartUpPause(StartUp& startUp) {
  return [pause = EventProcessingPause(), &startUp](std::uint32_t milliseconds) {
    if (startUp.running && !startUp.windowShown) {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<TForm1*>(widget) != nullptr) {
          widget->show();
          startUp.windowShown = true;
          QTimer::singleShot(0, [] { SetApplicationIcon(kIconSizes); });
        }
      }
    }
    pause(milliseconds);
  };
}

} // namespace

int RunController() {
  // Qt's raster painter fills large areas (the scroll settings' frame) on pooled threads. They
  // are done with it when the window has been painted; idle pooled threads end after a
  // second instead of lingering for half a minute.
  QThreadPool::globalInstance()->setExpiryTimeout(kPooledThreadIdleMs);
  SetApplicationIcon(kSmallIconSizes);
  QtPrompts prompts;
  const auto ports = SystemPortSource();
  StartUp startUp;
  // The window runs the driver on a thread of its own. A close asks every wait of a device
  // server (a connect, a look-up, a drain) to end soon: the program is on its way out.
  FormServices services{SystemSerialDriver(), *ports, prompts, ShowWindowBeforeStartUpPause(startUp)};
  services.stopDeviceWaits = [] { RequestStop(StopLevel::Finish); };
  const auto window = CreateMainWindow(services, prompts);
  startUp.running = false;
  if (!window) {
    return 1;
  }
  prompts.SetParent(window.get());
  window->show();
  if (!startUp.windowShown) { // the language pass stopped before its pause
    SetApplicationIcon(kIconSizes);
  }
  return QApplication::exec();
}

} // namespace kv58
