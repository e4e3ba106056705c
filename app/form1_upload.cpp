// The send button: pick a text file and upload it to the display page by page.

#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "app/prompts.h"
#include "app/upload_session.h"
#include "app/widget_text.h"
#include "app/widgets/value_label.h"
#include "protocol/text_upload.h"
#include "protocol/upload_file.h"

namespace kv58 {
namespace {

constexpr std::string_view kTooLongMessage = "Tekst może mieć maksymalnie 1983 znaki";
constexpr std::string_view kUnreadableMessage = "Nie można odczytać pliku ";

// The display would end the text at the 00 and obey the bytes after it as commands. The
// place is counted from 1, as an editor counts characters.
std::string TerminatorMessage(std::size_t offset) {
  return "Tekst nie może zawierać bajtu 00 (znak nr " + std::to_string(offset + 1) + ")";
}

QString PathText(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }

void ShowSize(TValueLabel* label, std::uint64_t size) {
  label->SetValue(QString::number(size));
  label->adjustSize(); // the size label grows with its text
}

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
  if (const auto terminator = TerminatorInText(file.bytes)) {
    services_.prompts.ShowMessage(TerminatorMessage(*terminator));
    return;
  }
  UploadSession session(*this, *Timer1, PageCount(file.bytes.size()), [this] { DropInputOnClose(); });
  // The pages go from the driver thread; their lines, the progress and the pauses come back
  // to the window's. The progress moves on after each page's write, before its pause.
  DebugLog lines;
  lines.SetListener([this, &lines] { LogFromStep(lines.Lines().back()); });
  // A close lets a text that is going well go on to its end. Once a page did not leave whole
  // (the device server stopped answering), the text ends after that page's pause: each page
  // still to come would wait out its own time-out, and the display must not be left inside
  // an open text.
  bool lastPageWhole = true;
  const auto endNow = [&] {
    bool end = false;
    driverThread_.OnCaller([&] { end = session.CloseRequested() && !lastPageWhole; });
    return end;
  };
  const PageObserver showProgress = [&](const PageOutcome& page) {
    lastPageWhole = page.sent && page.drained;
    driverThread_.OnCaller([&session] { session.PageWritten(); });
    return endNow() ? AfterPage::EndText : AfterPage::Continue;
  };
  (void)RunStep([&] {
    (void)UploadText(
        ComPort, file.bytes, [this](std::uint32_t milliseconds) { PauseFromStep(milliseconds); }, lines,
        showProgress, endNow);
  });
}

} // namespace kv58
