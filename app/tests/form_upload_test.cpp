// The send button with scripted file prompts.

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/event_pause.h"
#include "app/tests/form_harness.h"
#include "app/widgets/value_label.h"
#include "common/testing/scratch_dir.h"
#include "protocol/text_upload.h"

namespace kv58 {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UploadTest : public ::testing::Test {
protected:
  void SetUp() override {
    harness.Create();
    harness.Connect();
    harness.driver.ClearRecord();
    logBefore = harness.Log().size();
  }

  fs::path WriteFile(const std::string& name, std::size_t size) {
    const fs::path path = folder / name;
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
  }
  void Choose(const fs::path& path) { harness.prompts.files.emplace_back(path); }
  [[nodiscard]] std::vector<std::string> NewLogLines() const {
    const auto& log = harness.Log();
    return {log.begin() + static_cast<std::ptrdiff_t>(logBefore), log.end()};
  }

  testing::ScratchDir scratch;
  const fs::path folder = scratch.Path();
  std::size_t logBefore = 0;
  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
};

TEST_F(UploadTest, AFileOfTheLimitIsUploadedInPages) {
  const fs::path path = WriteFile("limit.txt", 1983);
  Choose(path);
  form().Button5Click();

  EXPECT_EQ(form().EditHorizFile->text(), QString::fromStdString(path.string()));
  EXPECT_EQ(form().Label3->text(), "1983");
  EXPECT_THAT(harness.prompts.messages, IsEmpty());
  EXPECT_EQ(harness.driver.sent.size(), 2u + 1983u + 1u);
  EXPECT_EQ(harness.Pauses(), std::vector<std::uint32_t>(8, 1000));
  const auto lines = NewLogLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines.front(), "wysłano stronę0");
  EXPECT_EQ(lines.back(), "Wysłano tekst do urządzenia 1983 znaków");
}

TEST_F(UploadTest, AFileOverTheLimitIsRefusedWithTheMessageAndNothingSent) {
  const fs::path path = WriteFile("long.txt", 1984);
  Choose(path);
  form().Button5Click();

  EXPECT_THAT(harness.prompts.messages, ElementsAre("Tekst może mieć maksymalnie 1983 znaki"));
  EXPECT_EQ(form().Label3->text(), "1984");
  EXPECT_EQ(form().EditHorizFile->text(), QString::fromStdString(path.string()));
  EXPECT_EQ(harness.Line(), "");
  EXPECT_THAT(NewLogLines(), IsEmpty());
}

// The display would end the text at the 00 and take "FF 03 10 FF 08" as speed 16 and a store.
TEST_F(UploadTest, AFileHolding00IsRefusedWithWhereItIsAndNothingSent) {
  const fs::path path = folder / "commands.txt";
  std::ofstream(path, std::ios::binary) << std::string("Hi\0\xFF\x03\x10\xFF\x08", 8);
  Choose(path);
  form().Button5Click();

  EXPECT_THAT(harness.prompts.messages, ElementsAre("Tekst nie może zawierać bajtu 00 (znak nr 3)"));
  EXPECT_EQ(form().Label3->text(), "8");
  EXPECT_EQ(harness.Line(), "");
  EXPECT_THAT(NewLogLines(), IsEmpty());
}

TEST_F(UploadTest, AHugeSparseFileIsRefusedWithoutBeingRead) {
#ifdef _WIN32
  GTEST_SKIP() << "NTFS files are not sparse unless asked: this would take 4 GiB of disk";
#endif
  const fs::path path = folder / "huge.bin";
  { std::ofstream touch(path); }
  fs::resize_file(path, 4ULL << 30); // 4 GiB, no blocks on disk
  Choose(path);
  form().Button5Click();

  EXPECT_EQ(form().Label3->text(), "4294967296");
  EXPECT_THAT(harness.prompts.messages, ElementsAre("Tekst może mieć maksymalnie 1983 znaki"));
  EXPECT_EQ(harness.Line(), "");
}

TEST_F(UploadTest, AMissingFileIsReportedAndNothingIsSentOrLogged) {
  const fs::path path = folder / "gone.txt";
  Choose(path);
  form().Button5Click();

  EXPECT_THAT(harness.prompts.messages, ElementsAre("Nie można odczytać pliku " + path.string()));
  EXPECT_EQ(form().EditHorizFile->text(), QString::fromStdString(path.string()));
  EXPECT_EQ(form().Label3->text(), "0");
  EXPECT_EQ(harness.Line(), "");
  EXPECT_THAT(NewLogLines(), IsEmpty());
}

TEST_F(UploadTest, AnEmptyFileUploadsTheEmptyText) {
  Choose(WriteFile("empty.txt", 0));
  form().Button5Click();

  EXPECT_EQ(harness.Line(), "FF 07 00");
  EXPECT_THAT(NewLogLines(), ElementsAre("Wysłano tekst do urządzenia 0 znaków"));
  EXPECT_EQ(form().Label3->text(), "0");
}

TEST_F(UploadTest, CancellingChangesNothing) {
  form().EditHorizFile->setText("before");
  form().Button5Click(); // the script has no answer: cancelled
  EXPECT_EQ(harness.prompts.fileQuestions, 1);
  EXPECT_EQ(form().EditHorizFile->text(), "before");
  EXPECT_EQ(form().Label3->text(), "0");
  EXPECT_EQ(harness.Line(), "");
}

TEST_F(UploadTest, TheWindowIsBusyDuringTheUploadAndTheTimerQuiet) {
  Choose(WriteFile("short.txt", 10));
  bool busyDuringPause = false;
  bool timerQuietDuringPause = false;
  harness.form.reset();
  const Pause observing = [&](std::uint32_t milliseconds) {
    if (milliseconds != 1000) {
      return; // the scroll-type pause while the window is built
    }
    busyDuringPause = QApplication::overrideCursor() != nullptr &&
                      QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    timerQuietDuringPause = !harness.form->Timer1->isActive();
  };
  harness.form = std::make_unique<TForm1>(
      FormServices{harness.driver, harness.ports, harness.prompts, observing, "no-such-dir/lang.txt"});
  harness.Connect();
  form().Button5Click();

  EXPECT_TRUE(busyDuringPause);
  EXPECT_TRUE(timerQuietDuringPause);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor comes back";
  EXPECT_TRUE(form().Timer1->isActive()) << "the timer runs again";
}

// The handler run with the port closed (the button is off then, but the upload must not
// wake the idle window): the timer stays stopped after it.
TEST_F(UploadTest, AnUploadWithThePortClosedLeavesTheTimerStopped) {
  form().CheckBoxConnect->setChecked(false);
  ASSERT_FALSE(form().Timer1->isActive());
  Choose(WriteFile("closed.txt", 10));
  form().Button5Click();
  EXPECT_FALSE(form().Timer1->isActive());
}

// Counts the paint events that reach any widget while it lives.
class PaintCounter final : public QObject {
public:
  PaintCounter() { QApplication::instance()->installEventFilter(this); }
  ~PaintCounter() override { QApplication::instance()->removeEventFilter(this); }
  PaintCounter(const PaintCounter&) = delete;
  PaintCounter& operator=(const PaintCounter&) = delete;
  int paints = 0;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    paints += event->type() == QEvent::Paint ? 1 : 0;
    return QObject::eventFilter(watched, event);
  }
};

// The real upload through the app's own pause, shortened tenfold: during every page's pause
// the window paints and the progress shows the page, and a close request from the system
// waits until the terminator is out.
TEST_F(UploadTest, TheWindowPaintsDuringTheUploadShowsProgressAndACloseWaitsForTheEnd) {
  Choose(WriteFile("two-pages.txt", 257));
  const Pause appPause = EventProcessingPause();
  QStringList progressSeen;
  const Pause shortened = [&](std::uint32_t milliseconds) {
    harness.driver.calls.push_back({"Pause", 0, milliseconds, {}});
    if (milliseconds != kPagePauseMs) {
      return; // the scroll-type pause while the window is built
    }
    if (progressSeen.empty()) {
      QCoreApplication::postEvent(form().windowHandle(), new QCloseEvent); // as the system asks
    }
    const PaintCounter counter;
    form().update(); // as when the window is uncovered: it has to paint again
    appPause(milliseconds / 10);
    EXPECT_GT(counter.paints, 0) << "the window painted during page " << progressSeen.size() + 1;
    EXPECT_TRUE(form().isVisible()) << "the close request waits";
    const auto* progress = form().findChild<QProgressDialog*>();
    progressSeen << (progress != nullptr && progress->isVisible() ? progress->labelText() : "");
  };
  harness.form.reset();
  harness.form = std::make_unique<TForm1>(
      FormServices{harness.driver, harness.ports, harness.prompts, shortened, "no-such-dir/lang.txt"});
  form().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form()));
  harness.Connect();
  harness.driver.ClearRecord();
  form().Button5Click();

  EXPECT_EQ(progressSeen, QStringList({"Strona 1 z 2, zostało 2 s", "Strona 2 z 2, zostało 1 s"}));
  EXPECT_EQ(harness.driver.sent.size(), 2u + 257u + 1u) << "every byte, the terminator included";
  EXPECT_EQ(harness.Pauses(), std::vector<std::uint32_t>(2, kPagePauseMs)) << "the pauses as asked";
  EXPECT_EQ(form().findChild<QProgressDialog*>(), nullptr) << "the progress is gone with the upload";

  QCoreApplication::processEvents();
  EXPECT_FALSE(form().isVisible()) << "once the upload has ended, the window closes as asked";
}

} // namespace
} // namespace kv58
