// The send button with scripted file prompts.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/tests/form_harness.h"

namespace kv58 {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UploadTest : public ::testing::Test {
protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("kv58-upload-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    harness.Create();
    harness.Connect();
    harness.driver.ClearRecord();
    logBefore = harness.Log().size();
  }
  void TearDown() override { fs::remove_all(folder); }

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

  fs::path folder;
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

} // namespace
} // namespace kv58
