// The real open-file prompt, answered by typing into it as a user would.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "app/prompts.h"

namespace kv58 {
namespace {

namespace fs = std::filesystem;

// Types the name into the prompt once it is open, then presses Return or clicks Cancel.
// Whatever still asks for an answer after that (a "file not found" warning, say) is named in
// `left` and closed, so a prompt that insists fails the test rather than hanging it. The
// answered prompt itself gets a second to close: under Wine its file model may still be
// asking the system about its drives.
std::unique_ptr<QTimer> AnswerPrompt(const QString& name, bool accept, QStringList& left) {
  constexpr int kPollsToClose = 50;
  auto poll = std::make_unique<QTimer>();
  auto onPoll = [=, &left, answered = false, prompt = QPointer<QWidget>(),
                 pollsLeft = kPollsToClose]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!answered && dialog != nullptr) {
      answered = true;
      prompt = dialog;
      auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      nameField->setText(name);
      // Queued, so that a box the answer opens finds this poll free to close it.
      QMetaObject::invokeMethod(
          dialog,
          [=] {
            if (accept) {
              QTest::keyClick(nameField, Qt::Key_Return);
            } else {
              QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel),
                                Qt::LeftButton);
            }
          },
          Qt::QueuedConnection);
    } else if (answered && modal != nullptr) {
      if (modal == prompt && --pollsLeft > 0) {
        return; // the answered prompt, still closing
      }
      left << modal->metaObject()->className();
      modal->close();
    }
  };
  QObject::connect(poll.get(), &QTimer::timeout, onPoll);
  poll->start(20);
  return poll;
}

TEST(OpenFilePrompt, ATypedNameIsTakenWhetherTheFileExistsOrNot) {
  const fs::path missing = fs::temp_directory_path() / "kv58-no-such-file.txt";
  fs::remove(missing);
  struct Row {
    const char* name;
    bool accept;
    std::optional<fs::path> answer;
  };
  const std::vector<Row> rows = {{"a missing file, Return", true, missing}, {"Cancel", false, std::nullopt}};
  for (const auto& [name, accept, answer] : rows) {
    SCOPED_TRACE(name);
    QtPrompts prompts;
    QStringList left;
    const auto poll = AnswerPrompt(QString::fromStdString(missing.string()), accept, left);
    const auto written = [](const std::optional<fs::path>& path) {
      return path ? std::optional(path->native()) : std::nullopt;
    };
    EXPECT_EQ(written(prompts.AskFileToOpen()), written(answer))
        << "as the system writes names (\\ on Windows)";
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
  }
}

} // namespace
} // namespace kv58
