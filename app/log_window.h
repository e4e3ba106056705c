#pragma once
// The debug log on demand: Ctrl+L in the main window opens a separate small window that shows
// the log's lines as they are written. Read-only; its text can be selected and copied. The
// main window itself is unchanged.

#include <QPlainTextEdit>
#include <cstddef>

class QWidget;

namespace kv58 {

class DebugLog;

class LogWindow final : public QPlainTextEdit {
  Q_OBJECT
public:
  // A window of its own, owned by `owner`, so that it closes with it and never keeps the
  // program running. It follows `log` from here on; `log` must outlive it or its owner.
  LogWindow(const DebugLog& log, QWidget* owner);

  // Brings the latest state of the log on screen.
  void Follow();

private:
  const DebugLog& log_;
  std::size_t shownLines_ = 0;
};

// Gives `window` the Ctrl+L shortcut that opens (or brings forward) its log window.
void AddLogWindowShortcut(QWidget& window, DebugLog& log);

} // namespace kv58
