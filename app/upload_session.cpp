#include "app/upload_session.h"

#include <QApplication>
#include <QCloseEvent>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <utility>

#include "protocol/text_upload.h"

namespace kv58 {
namespace {

QString ProgressText(std::size_t pagesWritten, std::size_t pageCount) {
  return QStringLiteral("Strona %1 z %2, zostało %3 s")
      .arg(pagesWritten)
      .arg(pageCount)
      .arg(SecondsLeft(pagesWritten, pageCount));
}

} // namespace

UploadSession::UploadSession(QWidget& window, QTimer& receiveTimer, std::size_t pageCount,
                             std::function<void()> closeRequested)
    : window_(window), receiveTimer_(receiveTimer), progress_(new QProgressDialog(&window)),
      pageCount_(pageCount), onCloseRequest_(std::move(closeRequested)) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  window_.installEventFilter(this);

  // No cancel button and no close button: an upload is never cut short.
  progress_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  progress_->setWindowTitle(QStringLiteral("Wysyłanie tekstu"));
  // Not modal: a modal progress dialog takes in every pending event, input included, each
  // time its value moves. The pause keeps input out instead.
  progress_->setCancelButton(nullptr);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setMinimumDuration(0);
  progress_->setRange(0, static_cast<int>(std::max<std::size_t>(pageCount_, 1)));
  progress_->installEventFilter(this);
  ShowProgress();
  progress_->show();
  // Let the new path, size, cursor and progress reach the screen; no input is taken here.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

UploadSession::~UploadSession() {
  delete progress_;
  window_.removeEventFilter(this);
  QApplication::restoreOverrideCursor();
  if (closeRequested_) {
    QTimer::singleShot(0, &window_, &QWidget::close);
  }
}

void UploadSession::PageWritten() {
  pagesWritten_ = std::min(pagesWritten_ + 1, pageCount_);
  ShowProgress();
}

void UploadSession::ShowProgress() {
  progress_->setLabelText(ProgressText(pagesWritten_, pageCount_));
  progress_->setValue(static_cast<int>(pagesWritten_));
}

bool UploadSession::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Close) {
    return QObject::eventFilter(watched, event);
  }
  // Closing the main window waits for the end; the progress display goes only with it.
  if (watched == &window_ && !closeRequested_) {
    closeRequested_ = true;
    if (onCloseRequest_) {
      onCloseRequest_();
    }
  }
  event->ignore();
  return true;
}

} // namespace kv58
