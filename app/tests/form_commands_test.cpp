// The settings controls and what they put on the line and in the log.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/tests/form_harness.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using testing::ScrollPauseLine;
using testing::ScrollTypeLine;

constexpr const char* kNotConnected = "Port nie połączony";

class CommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    harness.Create();
    harness.Connect();
    harness.driver.ClearRecord();
  }
  // The log lines added since `before` lines.
  [[nodiscard]] std::vector<std::string> LogSince(std::size_t before) const {
    const auto& log = harness.Log();
    return {log.begin() + static_cast<std::ptrdiff_t>(before), log.end()};
  }
  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
};

TEST_F(CommandsTest, FirstLinePushedPastTheLastDragsItAlongAndSendsItFirst) {
  form().TrackBar3->SetPosition(5);
  form().TrackBar2->SetPosition(8);
  harness.driver.ClearRecord();
  const auto before = harness.Log().size();

  form().TrackBar3->SetPosition(10);

  EXPECT_EQ(harness.Line(), "FF 05 0A FF 04 0A");
  EXPECT_THAT(LogSince(before),
              ElementsAre("wysłano zmianę ostatnij linni", "wysłano zmianę pierwszej linii"));
  EXPECT_EQ(form().Label2->text(), "10");
  EXPECT_EQ(form().Label6->text(), "10");
  EXPECT_EQ(form().TrackBar2->Position(), 10);
}

TEST_F(CommandsTest, LastLinePulledBelowTheFirstDragsItAlong) {
  form().TrackBar2->SetPosition(15);
  form().TrackBar3->SetPosition(7);
  harness.driver.ClearRecord();

  form().TrackBar2->SetPosition(3);

  EXPECT_EQ(harness.Line(), "FF 04 03 FF 05 03");
  EXPECT_EQ(form().TrackBar3->Position(), 3);
  EXPECT_EQ(form().Label2->text(), "3");
}

TEST_F(CommandsTest, FirstLineAtOrBelowTheLastSendsOneCommand) {
  const auto before = harness.Log().size();
  form().TrackBar3->SetPosition(22);
  EXPECT_EQ(harness.Line(), "FF 04 16");
  EXPECT_EQ(LogSince(before).size(), 1u);
}

TEST_F(CommandsTest, SpeedZeroIsSentLikeAnyOtherValue) {
  form().TrackBar1->SetPosition(0);
  EXPECT_EQ(harness.Line(), "FF 03 00");
  EXPECT_EQ(form().Label7->text(), "0");
  EXPECT_EQ(harness.Log().back(), "wysłano zmianę szybkości");
}

TEST_F(CommandsTest, SettingAPositionToItsValueFromCodeSendsNothing) {
  form().TrackBar1->SetPosition(form().TrackBar1->Position());
  EXPECT_EQ(harness.Line(), "");
}

TEST_F(CommandsTest, UserMovementsSendAgainEvenWithoutAChange) {
  form().TrackBar1->setFocus();
  QTest::keyClick(form().TrackBar1, Qt::Key_Right); // press moves to 5, release repeats 5
  EXPECT_EQ(harness.Line(), "FF 03 05 FF 03 05");
  harness.driver.ClearRecord();
  form().TrackBar1->SetPosition(16);
  harness.driver.ClearRecord();
  QTest::keyClick(form().TrackBar1, Qt::Key_Right); // at the end: still two notifications
  EXPECT_EQ(harness.Line(), "FF 03 10 FF 03 10");
  harness.driver.ClearRecord();
  QTest::keyClick(form().TrackBar1, Qt::Key_PageUp);
  EXPECT_EQ(form().TrackBar1->Position(), 14) << "a page is two steps, PageUp towards the minimum";
}

TEST_F(CommandsTest, AClickBesideTheHandleMovesAPageAndTheReleaseRepeatsIt) {
  TTrackBar* bar = form().TrackBar1;
  const QPoint nearRightEnd(bar->width() - 4, bar->height() - 3); // below the groove, among the ticks
  QTest::mouseClick(bar, Qt::LeftButton, {}, nearRightEnd);
  EXPECT_EQ(bar->Position(), 6);
  EXPECT_EQ(harness.Line(), "FF 03 06 FF 03 06");
}

TEST_F(CommandsTest, ScrollTypeIsFollowedByAPauseAndAReset) {
  const auto before = harness.Log().size();
  QTest::mouseClick(form().RadioGroup1->Button(2), Qt::LeftButton);

  EXPECT_EQ(harness.Line(), ScrollTypeLine(2));
  EXPECT_THAT(LogSince(before), ElementsAre("wysłano zmianę rodzaju scrollu", "wysłano zeruj"));
  const auto pause = std::find_if(harness.driver.calls.begin(), harness.driver.calls.end(),
                                  [](const auto& call) { return call.function == "Pause"; });
  ASSERT_NE(pause, harness.driver.calls.end());
  EXPECT_EQ(pause->text, "") << "nothing is read during the pause";
  EXPECT_TRUE(form().Timer1->isActive()) << "and the timer runs again after it";

  harness.driver.ClearRecord();
  QTest::mouseClick(form().RadioGroup1->Button(2), Qt::LeftButton);
  EXPECT_EQ(harness.Line(), "") << "clicking the selected item sends nothing";
}

// Each change of scroll type holds the receive timer for its pause; it keeps its beat, so the
// device's bytes are still taken off the line when the type changes more often than it ticks.
TEST_F(CommandsTest, TheReceiveTimerKeepsItsBeatAcrossFrequentPauses) {
  harness.driver.incoming = "AB";
  for (int change = 0; change < 8 && form().Receiver().Line().empty(); ++change) {
    form().RadioGroup1->SetItemIndex(1 + change % 2);
    QTest::qWait(400);
  }
  EXPECT_EQ(form().Receiver().Line(), "AB");
}

TEST_F(CommandsTest, StoreAndResetAreTwoByteFrames) {
  QTest::mouseClick(form().Button1, Qt::LeftButton);
  EXPECT_EQ(harness.Line(), "FF 08");
  EXPECT_EQ(harness.Log().back(), "wysłano zapis do eepromu");
  harness.driver.ClearRecord();
  QTest::mouseClick(form().Button2, Qt::LeftButton);
  EXPECT_EQ(harness.Line(), "FF 09");
  EXPECT_EQ(harness.Log().back(), "wysłano zeruj");
}

TEST_F(CommandsTest, WithThePortClosedEveryCommandLogsItsFailure) {
  form().CheckBoxConnect->setChecked(false);
  harness.driver.ClearRecord();
  const auto before = harness.Log().size();

  form().TrackBar1->SetPosition(9);
  form().RadioGroup1->SetItemIndex(2);
  form().Button1Click();

  EXPECT_EQ(harness.Line(), ScrollPauseLine()) << "nothing on the line, the pause still taken";
  EXPECT_THAT(LogSince(before), ElementsAre(kNotConnected, kNotConnected, kNotConnected, kNotConnected));
  EXPECT_EQ(form().Label7->text(), "9") << "the control keeps its new value";
}

TEST_F(CommandsTest, ACommandWhoseLastByteFailsIsReportedAsFailed) {
  harness.driver.acceptPerWrite = 0;
  form().Button1Click();
  EXPECT_EQ(harness.Log().back(), kNotConnected);
}

} // namespace
} // namespace kv58
