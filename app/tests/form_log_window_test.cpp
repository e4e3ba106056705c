// Ctrl+L: the debug log in a window of its own, following the log as it is written.

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "app/log_window.h"
#include "app/tests/form_harness.h"

namespace kv58 {
namespace {

class LogWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    harness.Create();
    form().show();
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
  }

  LogWindow* PressCtrlL() {
    QTest::keyClick(&form(), Qt::Key_L, Qt::ControlModifier);
    return form().findChild<LogWindow*>();
  }
  [[nodiscard]] QString LogText() const {
    QStringList lines;
    for (const auto& line : harness.Log()) {
      lines.append(QString::fromStdString(line));
    }
    return lines.join('\n');
  }

  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
};

TEST_F(LogWindowTest, CtrlLShowsTheLogInAReadOnlyWindowOfItsOwnWhoseTextCanBeCopied) {
  const QRect mainGeometry = form().geometry();
  LogWindow* log = PressCtrlL();
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(log->isVisible());
  EXPECT_TRUE(log->isWindow()) << "a separate window, not a part of the main one";
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_TRUE(log->toPlainText().contains("Port nie połączony")) << "the start-up's scroll-type lines";
  EXPECT_EQ(form().geometry(), mainGeometry);

  QApplication::clipboard()->clear();
  QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), LogText());

  log->close();
  EXPECT_EQ(PressCtrlL(), log) << "pressed again, the same window comes back";
  EXPECT_TRUE(log->isVisible());
}

// Opened after many failed connects, it shows the latest lines, and keeps them in view.
TEST_F(LogWindowTest, TheLogWindowFollowsTheLogWithTheLatestLinesInView) {
  harness.driver.failing = {"CreateFileA"};
  for (int attempt = 0; attempt < 20; ++attempt) {
    harness.Connect();
  }
  LogWindow* log = PressCtrlL();
  ASSERT_NE(log, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(log));
  const QScrollBar* scroll = log->verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 0) << "more lines than the window shows";
  EXPECT_EQ(scroll->value(), scroll->maximum());

  const int before = scroll->maximum();
  harness.Connect();
  EXPECT_TRUE(log->toPlainText().endsWith("BLAD_OTWARCIA_PORTU\nPORT_NIEPOLACZONY"));
  EXPECT_GT(scroll->maximum(), before);
  EXPECT_EQ(scroll->value(), scroll->maximum());

  harness.driver.failing.clear();
  harness.Connect(QStringLiteral("COM3"), QStringLiteral("115200"));
  EXPECT_EQ(log->toPlainText(), LogText()) << "the successful connect empties the log before its lines";
}

} // namespace
} // namespace kv58
