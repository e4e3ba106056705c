// Preloaded (LD_PRELOAD) into a kv58-controller that was not built for testing, e.g. the one
// unpacked from the .deb: as soon as the program shows a window, prints what its windows show,
// one "kind<TAB>text" line each on standard output, and ends the program. Kinds: window
// (title), button, label, group (group box title), item (a list's entry), icon (the sizes of
// the application's icon).

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

constexpr int kPollMs = 50;

void Print(const char* kind, const QString& text) {
  std::printf("%s\t%s\n", kind, text.toUtf8().constData());
}

void PrintWidget(const QWidget& widget) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
    Print("button", button->text());
  } else if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    Print("label", label->text());
  } else if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) {
    Print("group", group->title());
  } else if (const auto* list = qobject_cast<const QComboBox*>(&widget)) {
    for (int index = 0; index < list->count(); ++index) {
      Print("item", list->itemText(index));
    }
  }
}

void PrintIconSizes() {
  QStringList sizes;
  for (const QSize& size : QApplication::windowIcon().availableSizes()) {
    sizes << QString::number(size.width());
  }
  Print("icon", sizes.join(QLatin1Char(' ')));
}

// True once a window was shown and printed.
bool PrintShownWindows() {
  bool printed = false;
  for (const QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible()) {
      continue;
    }
    printed = true;
    Print("window", window->windowTitle());
    for (const QWidget* child : window->findChildren<QWidget*>()) {
      PrintWidget(*child);
    }
  }
  return printed;
}

void StartProbe() {
  auto* poll = new QTimer(QCoreApplication::instance());
  QObject::connect(poll, &QTimer::timeout, poll, [] {
    if (PrintShownWindows()) {
      PrintIconSizes();
      std::fflush(stdout);
      QCoreApplication::exit(0); // leaves every running event loop, a message box's too
    }
  });
  poll->start(kPollMs);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartProbe)
