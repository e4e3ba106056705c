// What assistive technology reads of the window: screen readers through UI Automation
// (Windows) and AT-SPI (Linux), and tools that drive windows. Every control answers to a
// stable object name, a caption on screen names the box below it, and the controls without
// a caption of their own get a name in the window's language.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "app/form1.h"
#include "app/widget_text.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"
#include "common/errors.h"

namespace kv58 {
namespace {

// Words of the window that only assistive technology hears, with the text a language file
// without their rows leaves in place.
struct UnseenWord {
  std::string_view key;
  const char* builtIn; // UTF-8
};
constexpr UnseenWord kLineSpeedWord{"LINE SPEED", "prędkość łącza"};
constexpr UnseenWord kTextFileWord{"TEXT FILE", "plik tekstu"};

} // namespace

// The names are the ones the window's code uses, so that they stay the same in every language:
// UI Automation's AutomationId, the AT-SPI path, a test's handle.
void TForm1::NameControls() {
  setObjectName(QStringLiteral("Form1"));
  const std::initializer_list<std::pair<QObject*, const char*>> controls{{PanelMain, "PanelMain"},
                                                                         {Label4, "Label4"},
                                                                         {ComboBoxPort, "ComboBoxPort"},
                                                                         {Label9, "Label9"},
                                                                         {ComboBoxSpeed, "ComboBoxSpeed"},
                                                                         {CheckBoxConnect, "CheckBoxConnect"},
                                                                         {Label5, "Label5"},
                                                                         {ComboBoxLang, "ComboBoxLang"},
                                                                         {RadioGroup1, "RadioGroup1"},
                                                                         {EditHorizFile, "EditHorizFile"},
                                                                         {Button5, "Button5"},
                                                                         {Label1, "Label1"},
                                                                         {Label3, "Label3"},
                                                                         {Label8, "Label8"},
                                                                         {Button2, "Button2"},
                                                                         {Button1, "Button1"},
                                                                         {GroupBox1, "GroupBox1"},
                                                                         {GroupBox2, "GroupBox2"},
                                                                         {TrackBar3, "TrackBar3"},
                                                                         {Label2, "Label2"},
                                                                         {GroupBox3, "GroupBox3"},
                                                                         {TrackBar2, "TrackBar2"},
                                                                         {Label6, "Label6"},
                                                                         {GroupBox4, "GroupBox4"},
                                                                         {TrackBar1, "TrackBar1"},
                                                                         {Label7, "Label7"},
                                                                         {Timer1, "Timer1"}};
  for (const auto& [control, name] : controls) {
    control->setObjectName(QLatin1String(name));
  }
  // A label tied to a box names it: on Linux a combo box's name is its text, and a screen
  // reader names the box by the label instead. The speed box's label shows nothing.
  Label4->setBuddy(ComboBoxPort);
  Label5->setBuddy(ComboBoxLang);
  Label9->setBuddy(ComboBoxSpeed);
  ComboBoxPort->setAccessibleName(Label4->text());
  ComboBoxLang->setAccessibleName(Label5->text());
  NameUncaptionedControls();
}

void TForm1::NameUncaptionedControls() {
  const QString lineSpeed = WordOrBuiltIn(kLineSpeedWord.key, kLineSpeedWord.builtIn);
  Label9->setAccessibleName(lineSpeed);
  ComboBoxSpeed->setAccessibleName(lineSpeed);
  EditHorizFile->setAccessibleName(WordOrBuiltIn(kTextFileWord.key, kTextFileWord.builtIn));
}

// Never stops the language pass: a file older than these words, a row short of the column, an
// empty cell and no file at all leave the built-in word.
QString TForm1::WordOrBuiltIn(std::string_view key, const char* builtIn) const {
  try {
    const std::string word = LanguageRows.Translate(key, ComboBoxLang->ItemIndex());
    if (!word.empty() && word != "{" + std::string(key) + "}") {
      return FromBytes(word, LanguageRows.Encoding()).toLower();
    }
  } catch (const ListIndexError&) {
  }
  return QString::fromUtf8(builtIn);
}

} // namespace kv58
