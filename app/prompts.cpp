#include "app/prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace kv58 {
namespace {

// Windows lists every file under "*.*"; elsewhere that pattern would hide names without a dot.
#ifdef Q_OS_WIN
constexpr auto kAllFilesFilter = "All files (*.*)";
#else
constexpr auto kAllFilesFilter = "All files (*)";
#endif

// A caption left empty is filled with the program's name by the platform (on Windows and on
// X11 alike); a single blank is shown as the empty caption the messages are meant to have.
const QString kBlankCaption = QStringLiteral(" ");

} // namespace

std::optional<std::filesystem::path> QtPrompts::AskFileToOpen() {
  // No title, folder or default suffix of our own: the system's defaults. Any name is
  // accepted, an existing file or not: the loading step reports a file it cannot read.
  QFileDialog dialog(parent_, QString(), QString(), QString::fromLatin1(kAllFilesFilter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Native dialogs in "any file" mode may take the name for one to be written; it is only read.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return std::nullopt;
  }
  // Qt names files with '/' on every system; the window shows the name as the system writes it.
  return std::filesystem::path(
      QDir::toNativeSeparators(dialog.selectedFiles().constFirst()).toStdU16String());
}

void QtPrompts::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kBlankCaption, QString::fromStdString(text), QMessageBox::Ok, parent_);
  box.exec();
}

void QtPrompts::ShowError(const std::string& message) {
  const QString title =
      title_.empty() ? QApplication::applicationDisplayName() : QString::fromStdString(title_);
  QMessageBox box(QMessageBox::Critical, title, QString::fromStdString(message), QMessageBox::Ok, parent_);
  box.exec();
}

} // namespace kv58
