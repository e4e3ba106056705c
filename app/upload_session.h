#pragma once
// What the window shows and holds back while an upload runs: the wait cursor, a progress
// display with the page and the seconds left, the receive timer held, and a request to
// close the window put off until the upload has ended, so the device never keeps a text
// without its terminator; the upload ends its text early once a page fails after a close
// (CloseRequested). Input is held by the window meanwhile (DeferredInput).

#include <QObject>
#include <cstddef>
#include <functional>

#include "app/receive_beat.h"

class QProgressDialog;
class QTimer;
class QWidget;

namespace kv58 {

class UploadSession final : public QObject {
  Q_OBJECT
public:
  // `closeRequested` is called at the first request to close the window.
  UploadSession(QWidget& window, QTimer& receiveTimer, std::size_t pageCount,
                std::function<void()> closeRequested = {});
  ~UploadSession() override;
  UploadSession(const UploadSession&) = delete;
  UploadSession& operator=(const UploadSession&) = delete;

  // A page has gone to the port; its pause comes next.
  void PageWritten();
  // The window was asked to close: it will, once the text has its end.
  [[nodiscard]] bool CloseRequested() const { return closeRequested_; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void ShowProgress();

  QWidget& window_;
  HeldReceiveTimer receiveTimer_; // nothing is read during an upload
  QProgressDialog* progress_;
  std::size_t pageCount_;
  std::size_t pagesWritten_ = 0;
  std::function<void()> onCloseRequest_;
  bool closeRequested_ = false;
};

} // namespace kv58
