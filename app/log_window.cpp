#include "app/log_window.h"

#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QStringList>

#include "common/debug_log.h"

namespace kv58 {
namespace {

constexpr QSize kLogWindowSize{420, 300};
constexpr int kGapToOwner = 8;

// Beside the main window, right or else left, so that it covers none of the controls; where
// neither side has room, the system places it.
void PlaceBeside(QWidget& window, const QWidget& owner) {
  const QScreen* screen = owner.screen();
  if (screen == nullptr) {
    return;
  }
  const QRect room = screen->availableGeometry();
  const QRect ownerFrame = owner.frameGeometry();
  QRect place(QPoint(ownerFrame.right() + 1 + kGapToOwner, ownerFrame.top()), window.frameGeometry().size());
  if (!room.contains(place)) {
    place.moveRight(ownerFrame.left() - 1 - kGapToOwner);
  }
  if (room.contains(place)) {
    window.move(place.topLeft());
  }
}

// The log's lines are UTF-8, as the program writes them.
QString LineText(const std::string& line) { return QString::fromStdString(line); }

void OpenLogWindow(QWidget& owner, DebugLog& log) {
  auto* window = owner.findChild<LogWindow*>();
  const bool opening = window == nullptr;
  if (opening) {
    window = new LogWindow(log, &owner);
    PlaceBeside(*window, owner);
    const QPointer<LogWindow> follower(window);
    log.SetListener([follower] {
      if (follower) {
        follower->Follow();
      }
    });
  }
  window->show();
  window->raise();
  window->activateWindow();
  if (opening) {
    window->ensureCursorVisible(); // the latest lines, where the reason for a failure is
  }
}

} // namespace

LogWindow::LogWindow(const DebugLog& log, QWidget* owner) : QPlainTextEdit(owner), log_(log) {
  setWindowFlag(Qt::Window);
  setWindowTitle(QStringLiteral("Dziennik"));
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  resize(kLogWindowSize);
  Follow();
}

// New lines are appended, so a selection or a scrolled view stays where it is, and a view at
// the end keeps following; a log that was emptied is shown afresh, from its end.
void LogWindow::Follow() {
  const auto& lines = log_.Lines();
  if (lines.size() < shownLines_ || shownLines_ == 0) {
    QStringList all;
    for (const auto& line : lines) {
      all.append(LineText(line));
    }
    setPlainText(all.join(QLatin1Char('\n')));
    moveCursor(QTextCursor::End);
  } else {
    for (std::size_t i = shownLines_; i < lines.size(); ++i) {
      appendPlainText(LineText(lines[i]));
    }
  }
  shownLines_ = lines.size();
}

void AddLogWindowShortcut(QWidget& window, DebugLog& log) {
  auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), &window);
  QObject::connect(shortcut, &QShortcut::activated, &window, [&window, &log] { OpenLogWindow(window, log); });
}

} // namespace kv58
