// The send button: pick a text file and upload it to the display page by page.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "app/display_text.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "protocol/text_upload.h"
#include "protocol/upload_file.h"

namespace kv58 {
namespace {

constexpr std::string_view kTooLongMessage = "Tekst może mieć maksymalnie 1983 znaki";
constexpr std::string_view kUnreadableMessage = "Nie można odczytać pliku ";

QString PathText(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }

void ShowSize(QLabel* label, std::uint64_t size) {
  label->setText(QString::number(size));
  label->adjustSize(); // the size label grows with its text
}

// The upload holds the window for about a second per page: it takes no input and the
// timer stays quiet meanwhile, and the cursor says so.
class BusyWindow {
public:
  explicit BusyWindow(QTimer* timer) : timer_(timer) {
    timer_->stop();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Let the new path, size and cursor reach the screen; no input is taken here.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  ~BusyWindow() {
    QApplication::restoreOverrideCursor();
    timer_->start();
  }
  BusyWindow(const BusyWindow&) = delete;
  BusyWindow& operator=(const BusyWindow&) = delete;

private:
  QTimer* timer_;
};

} // namespace

void TForm1::Button5Click() {
  const auto path = services_.prompts.AskFileToOpen();
  if (!path) {
    return;
  }
  EditHorizFile->setText(PathText(*path));

  const UploadFile file = LoadUploadFile(*path);
  ShowSize(Label3, file.status == UploadFile::Status::Unreadable ? 0 : file.size);
  switch (file.status) {
  case UploadFile::Status::Unreadable:
    services_.prompts.ShowMessage(std::string(kUnreadableMessage) + PathText(*path).toStdString());
    return;
  case UploadFile::Status::TooLong:
    services_.prompts.ShowMessage(std::string(kTooLongMessage));
    return;
  case UploadFile::Status::Loaded:
    break;
  }
  const BusyWindow busy(Timer1);
  UploadText(ComPort, file.bytes, services_.pause, DebugMemo);
}

} // namespace kv58
