// The window as assistive technology reads it: Qt's accessibility tree, which UI Automation
// (Windows) and AT-SPI (Linux) are built from. Every control has a name that says what it is,
// its true role and a stable object name, in every language, connected or not.

#include <QAccessible>
#include <QAccessibleInterface>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMetaEnum>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <vector>

#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"
#include "common/testing/scratch_dir.h"

namespace kv58 {
namespace {

// What a screen reader says a control is called. On Linux a combo box's own name is its text,
// and Orca names it by the label that points at it; elsewhere the two agree (checked below).
QString SpokenName(QAccessibleInterface* node) {
  if (node->role() == QAccessible::ComboBox) {
    for (const auto& [label, relation] : node->relations(QAccessible::Label)) {
      if (label != nullptr && !label->text(QAccessible::Name).isEmpty()) {
        return label->text(QAccessible::Name);
      }
    }
  }
  return node->text(QAccessible::Name);
}

struct Node {
  QAccessibleInterface* accessible;
  QString objectName;
  QString spokenName;
  int depth;
};

void Walk(QAccessibleInterface* node, int depth, std::vector<Node>& into) {
  if (node == nullptr || !node->isValid() || node->state().invisible) {
    return;
  }
  into.push_back(
      {node, node->object() != nullptr ? node->object()->objectName() : QString(), SpokenName(node), depth});
  // What a combo box holds (its list, its edit field) is the combo box's own business.
  if (node->role() == QAccessible::ComboBox) {
    return;
  }
  for (int i = 0; i < node->childCount(); ++i) {
    Walk(node->child(i), depth + 1, into);
  }
}

std::vector<Node> Tree(QWidget* window) {
  std::vector<Node> nodes;
  Walk(QAccessible::queryAccessibleInterface(window), 0, nodes);
  return nodes;
}

QString RoleName(QAccessible::Role role) { return QMetaEnum::fromType<QAccessible::Role>().valueToKey(role); }

// The tree as a screen reader's user hears it: role, name, value and checked state, indented.
QString Heard(const std::vector<Node>& nodes) {
  QString text;
  for (const Node& node : nodes) {
    QAccessibleInterface* a = node.accessible;
    text += QString(node.depth * 2, ' ') + RoleName(a->role()) + " \"" + node.spokenName + "\"";
    const QString value = a->text(QAccessible::Value);
    if (!value.isEmpty() && value != node.spokenName) {
      text += " = " + value;
    }
    text += a->state().checked ? " (checked)" : "";
    text += a->state().disabled ? " (unavailable)" : "";
    text += "\n";
  }
  return text;
}

// The role each control must have, by its object name's start; the first match counts.
QAccessible::Role ExpectedRole(const QString& objectName) {
  static const std::vector<std::pair<QString, QAccessible::Role>> kRoles{
      {"Form1", QAccessible::Client},
      {"PanelMain", QAccessible::Client},
      {"ComboBox", QAccessible::ComboBox},
      {"CheckBox", QAccessible::CheckBox},
      {"Button", QAccessible::PushButton},
      {"RadioGroup1Item", QAccessible::RadioButton},
      {"RadioGroup", QAccessible::Grouping},
      {"GroupBox", QAccessible::Grouping},
      {"TrackBar", QAccessible::Slider},
      {"Label", QAccessible::StaticText},
      {"EditHorizFile", QAccessible::EditableText}};
  for (const auto& [start, role] : kRoles) {
    if (objectName.startsWith(start)) {
      return role;
    }
  }
  return QAccessible::NoRole;
}

// UI Automation's AutomationId under Qt: the object names from the window down, joined by dots;
// empty when any of them has none.
QString AutomationId(const QObject* object) {
  QStringList names;
  for (; object != nullptr; object = object->parent()) {
    if (object->objectName().isEmpty()) {
      return {};
    }
    names.prepend(object->objectName());
  }
  return names.join('.');
}

QStringList AutomationIds(const std::vector<Node>& tree) {
  QStringList ids;
  for (const Node& node : tree) {
    ids << AutomationId(node.accessible->object());
  }
  return ids;
}

bool IsContainer(QAccessible::Role role) { return role == QAccessible::Client; }

class FormAccessibilityTest : public ::testing::TestWithParam<std::tuple<int, bool>> {
protected:
  void SetUp() override {
    harness.Create(KV58_EXAMPLE_LANG_FILE);
    form().show();
  }

  TForm1& form() { return *harness.form; }
  void PickLanguage(int index) {
    form().ComboBoxLang->showPopup();
    form().ComboBoxLang->hidePopup();
    form().ComboBoxLang->setCurrentIndex(index);
    emit form().ComboBoxLang->activated(index); // as the user's pick
  }

  testing::FormHarness harness;
};

// Every control, in Polish and English, disconnected and connected: a name of its own that is
// more than a number or a missing row's key, the role it is, an object name.
TEST_P(FormAccessibilityTest, EveryControlHasANameItsRoleAndAnObjectName) {
  const auto [language, connected] = GetParam();
  PickLanguage(language);
  if (connected) {
    harness.Connect();
  }
  const std::vector<Node> tree = Tree(harness.form.get());
  SCOPED_TRACE(Heard(tree).toStdString());
  ASSERT_GT(tree.size(), 25U);
  const QStringList ids = AutomationIds(tree);
  EXPECT_FALSE(ids.contains(QString())) << ids.join(' ').toStdString();
  EXPECT_EQ(ids.size(), QSet<QString>(ids.begin(), ids.end()).size()) << "every control its own id";
  int checkedRadios = 0;
  for (const Node& node : tree) {
    SCOPED_TRACE(node.objectName.toStdString() + " \"" + node.spokenName.toStdString() + "\"");
    QAccessibleInterface* a = node.accessible;
    EXPECT_EQ(a->role(), ExpectedRole(node.objectName)) << "object names and roles";
    if (IsContainer(a->role())) {
      continue;
    }
    EXPECT_FALSE(node.spokenName.trimmed().isEmpty());
    EXPECT_FALSE(QRegularExpression(QStringLiteral("^[\\d\\s]*$")).match(node.spokenName).hasMatch())
        << "a bare number for a name";
    EXPECT_FALSE(node.spokenName.contains('{')) << "a key without its row";
#ifndef Q_OS_UNIX
    EXPECT_EQ(a->text(QAccessible::Name), node.spokenName) << "UI Automation reads the name itself";
#endif
    if (const auto* box = qobject_cast<const QGroupBox*>(a->object())) {
      EXPECT_EQ(node.spokenName, box->title()) << "a group box is read out with its own title";
    }
    checkedRadios += a->role() == QAccessible::RadioButton && a->state().checked ? 1 : 0;
  }
  EXPECT_EQ(checkedRadios, 1);
}

INSTANTIATE_TEST_SUITE_P(PolishAndEnglish, FormAccessibilityTest,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Bool()));

// What a screen reader reads, connected, after the kind of scroll was moved by the keyboard,
// the first line to 3 and a text of 39 characters picked; and the same ids in English.
TEST_F(FormAccessibilityTest, ReadsEveryControlWithItsValueInReadingOrder) {
  constexpr const char* kHeard = R"(Client "KV - 58 Scroll controller"
  Client ""
    StaticText "PORT"
    ComboBox "PORT" = COM3
    StaticText "prędkość łącza"
    ComboBox "prędkość łącza" = 115200
    CheckBox "połącz" (checked)
    StaticText "JĘZYK"
    ComboBox "JĘZYK" = Polski
    Grouping "rodzaj scrollu"
      RadioButton "brak"
      RadioButton "pionowy" (checked)
      RadioButton "poziomy"
    EditableText "plik tekstu" = hello.txt
    Button "wyślij tekst"
    StaticText "ilość znaków = "
    StaticText "ilość znaków: 39"
    StaticText "max  1983"
    Button "zeruj"
    Button "zapisz"
    Grouping "ustawienia scrollu"
      Grouping "pierwsza linia"
        Slider "pierwsza linia" = 3
        StaticText "pierwsza linia: 3"
      Grouping "ostatnia linia"
        Slider "ostatnia linia" = 22
        StaticText "ostatnia linia: 22"
      Grouping "szybkość"
        Slider "szybkość" = 4
        StaticText "szybkość: 4"
)";
  testing::ScratchDir scratch;
  const auto text = scratch.Path() / "hello.txt";
  std::ofstream(text, std::ios::binary) << "Hello from the window test\r\nZapraszamy!";
  harness.Connect();
  form().RadioGroup1->setFocus();
  QTest::keyClick(form().RadioGroup1->Button(0), Qt::Key_Right);
  form().TrackBar3->SetPosition(3);
  harness.prompts.files.push_back(text);
  form().Button5->click();
  form().EditHorizFile->setText(QStringLiteral("hello.txt"));
  const std::vector<Node> polish = Tree(harness.form.get());
  EXPECT_EQ(Heard(polish).toStdString(), kHeard);

  PickLanguage(1);
  EXPECT_EQ(AutomationIds(Tree(harness.form.get())), AutomationIds(polish))
      << "tools find each control by the same id in every language";
  EXPECT_TRUE(AutomationIds(polish).contains(QStringLiteral("Form1.PanelMain.RadioGroup1.RadioGroup1Item1")));
}

// A screen reader checks a radio button with its toggle action, as UI Automation's Select does:
// the kind of scroll moves and goes to the display at once, as from a click.
TEST_F(FormAccessibilityTest, AKindOfScrollCheckedByAssistiveTechnologyIsSentAtOnce) {
  harness.Connect();
  harness.driver.ClearRecord();
  QAccessibleInterface* vertical = QAccessible::queryAccessibleInterface(form().RadioGroup1->Button(1));
  ASSERT_NE(vertical, nullptr);
  QAccessibleActionInterface* actions = vertical->actionInterface();
  ASSERT_NE(actions, nullptr);
  ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
  actions->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(form().RadioGroup1->ItemIndex(), 1);
  EXPECT_EQ(harness.Line(), testing::ScrollTypeLine(1));
  EXPECT_FALSE(form().RadioGroup1->Button(0)->isChecked());
}

// A language file older than the words only assistive technology hears: every other text still
// switches, and those words stay the built-in Polish ones.
TEST_F(FormAccessibilityTest, AFileWithoutTheNewRowsStillSwitchesEveryOtherText) {
  const std::string oldRows = "Polski\tEnglish\t\nZapisz\tSAVE\t\nPierwsza linia\tFIRST LINE\t\n";
  const std::vector<std::pair<const char*, std::string>> cases{
      {"no rows for them", oldRows},
      {"rows short of the column", oldRows + "LINE SPEED\t\nTEXT FILE\t\n"},
  };
  testing::ScratchDir scratch;
  for (const auto& [name, rows] : cases) {
    SCOPED_TRACE(name);
    std::ofstream(scratch.Path() / "lang.txt", std::ios::binary | std::ios::trunc) << rows;
    harness.Create(scratch.Path() / "lang.txt");
    PickLanguage(1);
    EXPECT_EQ(form().Button1->text(), "save");
    EXPECT_EQ(form().Label2->accessibleName(), "first line: 1");
    EXPECT_EQ(form().ComboBoxSpeed->accessibleName(), QStringLiteral("prędkość łącza"));
    EXPECT_EQ(form().EditHorizFile->accessibleName(), QStringLiteral("plik tekstu"));
  }
}

} // namespace
} // namespace kv58
