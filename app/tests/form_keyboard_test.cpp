// The window from the keyboard alone: the tab chain, the scroll-type group and the sliders,
// all through real key presses on a shown, active window.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"
#include "common/testing/scratch_dir.h"

namespace kv58 {
namespace {

constexpr const char* kTwoLanguages = "Polski\tEnglish\t\n"
                                      "Brak\tOFF\t\n"
                                      "Pionowy\tVERTICAL\t\n"
                                      "Poziomy\tHORIZONTAL\t\n";

class KeyboardTest : public ::testing::Test {
protected:
  void SetUp() override {
    harness.Create(scratch.Write("lang.txt", kTwoLanguages));
    form().show();
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
  }

  TForm1& form() { return *harness.form; }
  static QWidget* Focused() { return QApplication::focusWidget(); }
  static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(Focused(), key, modifiers);
  }

  // The named control that holds the focus: a combo box for its edit field, the radio group
  // for its buttons.
  std::string FocusedControl() {
    const std::vector<std::pair<std::string, QWidget*>> controls = {
        {"TrackBar3", form().TrackBar3},
        {"TrackBar2", form().TrackBar2},
        {"TrackBar1", form().TrackBar1},
        {"EditHorizFile", form().EditHorizFile},
        {"ComboBoxSpeed", form().ComboBoxSpeed},
        {"ComboBoxPort", form().ComboBoxPort},
        {"CheckBoxConnect", form().CheckBoxConnect},
        {"Button5", form().Button5},
        {"Button2", form().Button2},
        {"Button1", form().Button1},
        {"RadioGroup1", form().RadioGroup1},
        {"ComboBoxLang", form().ComboBoxLang}};
    for (const auto& [name, control] : controls) {
      if (Focused() == control || control->isAncestorOf(Focused())) {
        return name;
      }
    }
    return Focused() == nullptr ? "nothing" : Focused()->metaObject()->className();
  }

  // Presses Tab once for every stop of the chain, from the combo box of speeds, and names
  // where each press lands; the last press has come round to the start again.
  std::vector<std::string> TabChain(std::size_t stops) {
    form().ComboBoxSpeed->setFocus(Qt::OtherFocusReason);
    std::vector<std::string> chain;
    for (std::size_t i = 0; i < stops; ++i) {
      Press(Qt::Key_Tab);
      chain.push_back(FocusedControl());
    }
    return chain;
  }

  // Down picks the second language, Up the first; each pick is a language pass.
  void SwitchLanguageByKeyboard(Qt::Key key = Qt::Key_Down) {
    form().ComboBoxLang->setFocus(Qt::OtherFocusReason);
    Press(key);
    const bool english = key == Qt::Key_Down;
    ASSERT_EQ(form().ComboBoxLang->ItemIndex(), english ? 1 : 0);
    ASSERT_EQ(form().RadioGroup1->Items(), english ? QStringList({"off", "vertical", "horizontal"})
                                                   : QStringList({"brak", "pionowy", "poziomy"}));
  }

  testing::ScratchDir scratch;
  testing::FormHarness harness;
};

using Chain = std::vector<std::string>;
using testing::ScrollTypeLine;

// Disabled controls are skipped; the radio group is one stop, and so is each combo box.
TEST_F(KeyboardTest, TabFollowsTheDesignedOrderThroughEveryLanguagePass) {
  const Chain disconnected = {"ComboBoxPort", "CheckBoxConnect", "ComboBoxLang", "ComboBoxSpeed"};
  const Chain connected = {"ComboBoxPort", "CheckBoxConnect", "Button5",       "Button2",
                           "Button1",      "RadioGroup1",     "ComboBoxLang",  "TrackBar3",
                           "TrackBar2",    "TrackBar1",       "EditHorizFile", "ComboBoxSpeed"};

  EXPECT_EQ(TabChain(disconnected.size()), disconnected) << "at start";
  harness.Connect();
  EXPECT_EQ(TabChain(connected.size()), connected) << "connected";
  SwitchLanguageByKeyboard();
  EXPECT_EQ(TabChain(connected.size()), connected) << "connected, after a language switch";
  SwitchLanguageByKeyboard(Qt::Key_Up);
  form().CheckBoxConnect->setChecked(false);
  EXPECT_EQ(TabChain(disconnected.size()), disconnected) << "disconnected again";
}

TEST_F(KeyboardTest, TabEntersTheScrollTypeOnTheSelectedItemAndLeavesTheGroup) {
  harness.Connect();
  form().RadioGroup1->SetItemIndex(2);
  SwitchLanguageByKeyboard();
  form().Button1->setFocus(Qt::OtherFocusReason);
  Press(Qt::Key_Tab);
  EXPECT_EQ(Focused(), form().RadioGroup1->Button(2));
  Press(Qt::Key_Tab);
  EXPECT_EQ(FocusedControl(), "ComboBoxLang");
  Press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(Focused(), form().RadioGroup1->Button(2)) << "back in, again on the selected item";
  Press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(Focused(), form().Button1);
}

// Each arrow moves the selection round the three items and tells the device at once.
TEST_F(KeyboardTest, ArrowKeysChooseTheScrollTypeAndSendIt) {
  struct Step {
    const char* name;
    Qt::Key key;
    int selected;
  };
  const std::vector<Step> steps = {
      {"Right", Qt::Key_Right, 1},      {"Down", Qt::Key_Down, 2}, {"Right, round", Qt::Key_Right, 0},
      {"Left, round", Qt::Key_Left, 2}, {"Up", Qt::Key_Up, 1},     {"Left", Qt::Key_Left, 0}};
  harness.Connect();
  form().Button1->setFocus(Qt::OtherFocusReason);
  Press(Qt::Key_Tab);
  for (const auto& [name, key, selected] : steps) {
    SCOPED_TRACE(name);
    harness.driver.ClearRecord();
    const auto logged = harness.Log().size();
    Press(key);
    EXPECT_EQ(form().RadioGroup1->ItemIndex(), selected);
    EXPECT_TRUE(form().RadioGroup1->Button(selected)->isChecked());
    EXPECT_EQ(Focused(), form().RadioGroup1->Button(selected));
    EXPECT_EQ(harness.Line(), ScrollTypeLine(selected));
    EXPECT_EQ(harness.Log().size(), logged + 2);
  }
}

// The keys of a Windows trackbar; the steps are 1 and 2.
TEST_F(KeyboardTest, SliderKeysMoveAsOnAWindowsTrackbar) {
  struct Row {
    const char* name;
    Qt::Key key;
    int from, to;
  };
  const std::vector<Row> rows = {{"Left", Qt::Key_Left, 8, 7},
                                 {"Up", Qt::Key_Up, 8, 7},
                                 {"PageUp", Qt::Key_PageUp, 8, 6},
                                 {"Right", Qt::Key_Right, 8, 9},
                                 {"Down", Qt::Key_Down, 8, 9},
                                 {"PageDown", Qt::Key_PageDown, 8, 10},
                                 {"Home", Qt::Key_Home, 8, 0},
                                 {"End", Qt::Key_End, 8, 16},
                                 {"Up at the minimum", Qt::Key_Up, 0, 0},
                                 {"PageDown at the maximum", Qt::Key_PageDown, 16, 16}};
  harness.Connect();
  TTrackBar* speed = form().TrackBar1;
  speed->setFocus(Qt::OtherFocusReason);
  for (const auto& [name, key, from, to] : rows) {
    SCOPED_TRACE(name);
    speed->SetPosition(from);
    harness.driver.ClearRecord();
    Press(key);
    EXPECT_EQ(speed->Position(), to);
    EXPECT_EQ(form().Label7->text(), QString::number(to));
    EXPECT_TRUE(harness.Line().starts_with(testing::Hex(std::string{'\xFF', '\x03', static_cast<char>(to)})));
  }
}

} // namespace
} // namespace kv58
