// The window as it is created, before anyone touches it.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/system_colors.h"
#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;

QString TextOf(const QWidget* widget) {
  if (const auto* label = qobject_cast<const QLabel*>(widget)) {
    return label->text();
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    return button->text();
  }
  if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
    return box->title();
  }
  if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
    return combo->currentText();
  }
  if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
    return edit->text();
  }
  return {};
}

struct ControlRow {
  const char* name;
  std::function<QWidget*(TForm1&)> control;
  std::function<QWidget*(TForm1&)> parent;
  QRect geometry;
  const char* text; // UTF-8
  bool enabled;
};

// The controls of the window in the order of its tree; value labels without a language
// file keep their built-in texts, captions are checked in the language tests.
const std::vector<ControlRow>& ControlTable() {
  static const std::vector<ControlRow> rows = {
      {"Label8",
       [](TForm1& f) { return f.Label8; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 304, 75, 23},
       "max  1983",
       true},
      {"Label3",
       [](TForm1& f) { return f.Label3; },
       [](TForm1& f) { return f.PanelMain; },
       {184, 280, 10, 23},
       "0",
       true},
      {"Label4",
       [](TForm1& f) { return f.Label4; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 0, 43, 23},
       "PORT",
       true},
      {"GroupBox2",
       [](TForm1& f) { return f.GroupBox2; },
       [](TForm1& f) { return f.GroupBox1; },
       {8, 32, 361, 57},
       nullptr,
       true},
      {"Label2",
       [](TForm1& f) { return f.Label2; },
       [](TForm1& f) { return f.GroupBox2; },
       {329, 22, 25, 23},
       "1",
       false},
      {"TrackBar3",
       [](TForm1& f) { return f.TrackBar3; },
       [](TForm1& f) { return f.GroupBox2; },
       {8, 24, 321, 25},
       nullptr,
       false},
      {"GroupBox3",
       [](TForm1& f) { return f.GroupBox3; },
       [](TForm1& f) { return f.GroupBox1; },
       {8, 96, 361, 57},
       nullptr,
       true},
      {"Label6",
       [](TForm1& f) { return f.Label6; },
       [](TForm1& f) { return f.GroupBox3; },
       {329, 22, 25, 23},
       "22",
       false},
      {"TrackBar2",
       [](TForm1& f) { return f.TrackBar2; },
       [](TForm1& f) { return f.GroupBox3; },
       {8, 24, 321, 25},
       nullptr,
       false},
      {"GroupBox4",
       [](TForm1& f) { return f.GroupBox4; },
       [](TForm1& f) { return f.GroupBox1; },
       {8, 160, 361, 65},
       nullptr,
       true},
      {"Label7",
       [](TForm1& f) { return f.Label7; },
       [](TForm1& f) { return f.GroupBox4; },
       {329, 22, 25, 23},
       "4",
       false},
      {"TrackBar1",
       [](TForm1& f) { return f.TrackBar1; },
       [](TForm1& f) { return f.GroupBox4; },
       {8, 24, 321, 33},
       nullptr,
       false},
      {"GroupBox1",
       [](TForm1& f) { return f.GroupBox1; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 328, 377, 233},
       nullptr,
       true},
      {"EditHorizFile",
       [](TForm1& f) { return f.EditHorizFile; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 240, 273, 31},
       "",
       false},
      {"ComboBoxSpeed",
       [](TForm1& f) { return f.ComboBoxSpeed; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 95, 137, 31},
       "9600",
       true},
      {"ComboBoxPort",
       [](TForm1& f) { return f.ComboBoxPort; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 39, 137, 31},
       "COM1",
       true},
      {"CheckBoxConnect",
       [](TForm1& f) { return f.CheckBoxConnect; },
       [](TForm1& f) { return f.PanelMain; },
       {64, 1, 113, 24},
       nullptr,
       true},
      {"Button5",
       [](TForm1& f) { return f.Button5; },
       [](TForm1& f) { return f.PanelMain; },
       {288, 240, 98, 25},
       nullptr,
       false},
      {"Button2",
       [](TForm1& f) { return f.Button2; },
       [](TForm1& f) { return f.PanelMain; },
       {288, 272, 98, 25},
       nullptr,
       false},
      {"Button1",
       [](TForm1& f) { return f.Button1; },
       [](TForm1& f) { return f.PanelMain; },
       {288, 305, 98, 24},
       nullptr,
       false},
      {"RadioGroup1",
       [](TForm1& f) { return f.RadioGroup1; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 152, 377, 67},
       nullptr,
       false},
      {"ComboBoxLang",
       [](TForm1& f) { return f.ComboBoxLang; },
       [](TForm1& f) { return f.PanelMain; },
       {216, 39, 137, 31},
       "ComboBoxLang",
       true},
      {"Label1",
       [](TForm1& f) { return f.Label1; },
       [](TForm1& f) { return f.PanelMain; },
       {8, 280, 108, 23},
       nullptr,
       true},
      {"Label5",
       [](TForm1& f) { return f.Label5; },
       [](TForm1& f) { return f.PanelMain; },
       {216, 0, 54, 23},
       nullptr,
       true},
  };
  return rows;
}

class FormCreatedTest : public ::testing::Test {
protected:
  void SetUp() override { harness.Create(); }
  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
};

TEST_F(FormCreatedTest, EveryControlHasItsParentPlaceTextAndState) {
  for (const auto& row : ControlTable()) {
    SCOPED_TRACE(row.name);
    QWidget* control = row.control(form());
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), row.parent(form()));
    if (control == form().Label1 || control == form().Label5) {
      // Captions the language pass sets: the designed place, wider when the text needs it.
      EXPECT_EQ(control->pos(), row.geometry.topLeft());
      EXPECT_EQ(control->height(), row.geometry.height());
      EXPECT_GE(control->width(), row.geometry.width());
    } else {
      EXPECT_EQ(control->geometry(), row.geometry);
    }
    EXPECT_EQ(control->isEnabled(), row.enabled);
    if (row.text != nullptr) {
      EXPECT_EQ(TextOf(control), QString::fromUtf8(row.text));
    }
  }
}

TEST_F(FormCreatedTest, WindowHasItsCaptionClientSizeAndPanel) {
  EXPECT_EQ(form().windowTitle(), QStringLiteral("KV - 58 Scroll controller"));
  EXPECT_EQ(form().size(), QSize(393, 584));
  EXPECT_EQ(form().PanelMain->parentWidget(), &form());
  form().show();
  EXPECT_EQ(form().PanelMain->geometry(), form().rect());
  form().resize(600, 800);
  EXPECT_EQ(form().PanelMain->geometry(), form().rect()) << "the panel fills the client area";
  EXPECT_EQ(form().Button1->geometry(), QRect(288, 305, 98, 24)) << "resizing moves nothing";
}

TEST_F(FormCreatedTest, SlidersHoldTheirRangesAndPositions) {
  struct Bar {
    TTrackBar* bar;
    int minimum, maximum, position;
  };
  for (const auto& [bar, minimum, maximum, position] :
       {Bar{form().TrackBar3, 1, 22, 1}, Bar{form().TrackBar2, 1, 22, 22}, Bar{form().TrackBar1, 0, 16, 4}}) {
    EXPECT_EQ(bar->minimum(), minimum);
    EXPECT_EQ(bar->maximum(), maximum);
    EXPECT_EQ(bar->Position(), position);
    EXPECT_EQ(bar->singleStep(), 1);
    EXPECT_EQ(bar->pageStep(), 2);
    EXPECT_EQ(bar->tickPosition(), QSlider::TicksBelow);
  }
}

TEST_F(FormCreatedTest, ListsHoldTheirItems) {
  const auto items = [](const QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) {
      texts << box->itemText(i);
    }
    return texts;
  };
  EXPECT_EQ(items(form().ComboBoxSpeed), QStringList({"9600", "19200", "115200"}));
  EXPECT_EQ(form().ComboBoxSpeed->ItemIndex(), 0);
  EXPECT_EQ(items(form().ComboBoxPort), QStringList({"COM1"}));
  EXPECT_EQ(form().ComboBoxPort->ItemIndex(), 0);
  EXPECT_EQ(form().ComboBoxLang->count(), 0);
  EXPECT_EQ(form().ComboBoxLang->ItemIndex(), -1);
  EXPECT_EQ(form().RadioGroup1->Items().size(), 3);
  EXPECT_EQ(form().RadioGroup1->ItemIndex(), 0);
}

TEST_F(FormCreatedTest, ConnectBoxIsUntickedAndThePortClosed) {
  EXPECT_FALSE(form().CheckBoxConnect->isChecked());
  EXPECT_FALSE(form().ComPort.IsOpen());
  EXPECT_EQ(form().ComPort.GetPortNumber(), 0);
  EXPECT_EQ(form().LanguageIndex, 0);
  EXPECT_EQ(harness.driver.CountOf("CreateFileA"), 0u);
}

TEST_F(FormCreatedTest, TimerIsSetToEverySecondButIdleUntilConnected) {
  EXPECT_FALSE(form().Timer1->isActive()) << "no port is open, so no tick";
  EXPECT_EQ(form().Timer1->interval(), 1000);
}

TEST_F(FormCreatedTest, FontsAreTheControlFontButForThePanel) {
  EXPECT_EQ(form().Button1->font().pixelSize(), 16);
  EXPECT_TRUE(form().Button1->font().families().contains("Comic Sans MS"));
  EXPECT_EQ(form().RadioGroup1->font().pixelSize(), 16);
  EXPECT_EQ(form().GroupBox2->font(), form().GroupBox1->font()) << "inner boxes take the outer box's font";
  EXPECT_EQ(form().PanelMain->font().pixelSize(), 11);
}

TEST_F(FormCreatedTest, TabOrderFollowsTheDesign) {
  const std::vector<QWidget*> expected = {form().TrackBar3,       form().TrackBar2,     form().TrackBar1,
                                          form().EditHorizFile,   form().ComboBoxSpeed, form().ComboBoxPort,
                                          form().CheckBoxConnect, form().Button5,       form().Button2,
                                          form().Button1,         form().RadioGroup1,   form().ComboBoxLang};
  std::vector<QWidget*> chain;
  QWidget* widget = expected.front();
  do {
    if (std::find(expected.begin(), expected.end(), widget) != expected.end()) {
      chain.push_back(widget);
    }
    widget = widget->nextInFocusChain();
  } while (widget != expected.front() && chain.size() < expected.size());
  EXPECT_EQ(chain, expected);
}

// The rule both ways, with the colours it sets.
TEST_F(FormCreatedTest, ConnectionStateSwitchesTheDependentControlsAndColours) {
  const QPalette system;
  const auto dependents = [&] {
    return std::vector<QWidget*>{form().TrackBar1, form().TrackBar2, form().TrackBar3,    form().Label2,
                                 form().Label6,    form().Label7,    form().RadioGroup1,  form().Button1,
                                 form().Button5,   form().Button2,   form().EditHorizFile};
  };
  const auto check = [&](bool on) {
    for (QWidget* control : dependents()) {
      EXPECT_EQ(control->isEnabled(), on) << control->metaObject()->className();
    }
    const TColor text = on ? TColor::clWindowText : TColor::clGrayText;
    EXPECT_EQ(form().EditHorizFile->palette().color(QPalette::Active, QPalette::Base),
              SystemColor(on ? TColor::clWindow : TColor::clBtnFace, system));
    EXPECT_EQ(form().GroupBox1->palette().color(QPalette::Active, QPalette::WindowText),
              SystemColor(text, system));
    EXPECT_EQ(form().RadioGroup1->palette().color(QPalette::Active, QPalette::WindowText),
              SystemColor(text, system));
    EXPECT_EQ(form().GroupBox2->palette().color(QPalette::Active, QPalette::WindowText),
              SystemColor(text, system))
        << "inner captions follow the outer box";
    EXPECT_EQ(form().Label2->palette().color(QPalette::Active, QPalette::WindowText),
              SystemColor(TColor::clWindowText, system))
        << "value labels keep their own colour";
    EXPECT_TRUE(form().GroupBox1->isEnabled());
    EXPECT_TRUE(form().ComboBoxPort->isEnabled());
  };
  check(false);
  form().CheckBoxConnect->blockSignals(true);
  form().CheckBoxConnect->setChecked(true);
  form().ApplyConnectionState();
  check(true);
  form().CheckBoxConnect->setChecked(false);
  form().ApplyConnectionState();
  check(false);
}

TEST_F(FormCreatedTest, DestroyingTheWindowClosesThePortWithoutAWord) {
  harness.Connect();
  ASSERT_TRUE(form().ComPort.IsOpen());
  harness.driver.ClearRecord();
  harness.form.reset();
  EXPECT_THAT(harness.driver.CallNames(), ElementsAre("FlushFileBuffers", "CloseHandle"));
  EXPECT_TRUE(harness.driver.openHandles.empty());
}

} // namespace
} // namespace kv58
