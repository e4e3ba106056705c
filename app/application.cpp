#include "app/application.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QString>
#include <memory>

#include "app/event_pause.h"
#include "app/form1.h"
#include "app/prompts.h"
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

// Every window of the program shows the icon the desktop shows. The PNGs are decoded by the
// reader built into Qt, named as PNG and not guessed from their content, which would load
// and ask every image-format plugin first.
void SetApplicationIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 256}) {
    QImageReader reader(QStringLiteral(":/icons/kv58-controller-%1.png").arg(size), "png");
    reader.setAutoDetectImageFormat(false);
    icon.addPixmap(QPixmap::fromImage(reader.read()));
  }
  QApplication::setWindowIcon(icon);
}

} // namespace

int RunController() {
  SetApplicationIcon();
  QtPrompts prompts;
  const auto ports = SystemPortSource();
  const FormServices services{SystemSerialDriver(), *ports, prompts, EventProcessingPause()};
  const auto window = CreateMainWindow(services, prompts);
  if (!window) {
    return 1;
  }
  prompts.SetParent(window.get());
  window->show();
  return QApplication::exec();
}

} // namespace kv58
