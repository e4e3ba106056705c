// The language list and the language pass that renames the window's texts.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/form1.h"
#include "app/widget_text.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/value_label.h"

namespace kv58 {
namespace {

// A translated caption may be longer than the built-in one; the label widens rather than
// cutting it off, and never narrows below its designed width.
void SetCaption(QLabel* label, const QString& text) {
  label->setText(text);
  label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

// A group box inside another would otherwise be read out with the outer one's title.
void SetTitle(QGroupBox* box, const QString& title) {
  box->setTitle(title);
  box->setAccessibleName(title);
}

// A slider's group and the value shown beside the slider carry one caption.
void SetTitle(QGroupBox* box, TValueLabel* value, const QString& title) {
  SetTitle(box, title);
  value->SetCaption(title);
}

} // namespace

void TForm1::ComboBoxLangDropDown() {
  if (LanguageRows.RowCount() == 0) {
    return;
  }
  const int remembered = ComboBoxLang->ItemIndex();
  ComboBoxLang->ClearAll();
  for (const auto& name : LanguageRows.LanguageNames()) {
    ComboBoxLang->addItem(FromBytes(name, LanguageRows.Encoding()));
  }
  ComboBoxLang->SetItemIndex(remembered);
  if (ComboBoxLang->ItemIndex() == -1 && ComboBoxLang->count() > 0) {
    ComboBoxLang->SetItemIndex(0);
  }
}

// One pass over the window's texts in a fixed order. The column is read again for every
// lookup; a lookup that fails stops the pass where it is, earlier texts already renamed.
void TForm1::ComboBoxLangChange() {
  const auto text = [this](std::string_view key) {
    return FromBytes(LanguageRows.Translate(key, ComboBoxLang->ItemIndex()), LanguageRows.Encoding());
  };
  const auto lower = [&](std::string_view key) { return text(key).toLower(); };

  // First, as none of these lookups can fail.
  NameUncaptionedControls();
  Button1->setText(lower("SAVE"));
  Button2->setText(lower("RESET"));
  Button5->setText(lower("SEND TEXT"));
  const QString characters = lower("NUMBER OF CHARACTERS");
  SetCaption(Label1, characters + QStringLiteral(" = "));
  Label3->SetCaption(characters);
  SetCaption(Label5, text("LANGUAGE").toUpper());
  ComboBoxLang->setAccessibleName(Label5->text());
  CheckBoxConnect->setText(lower("CONNECT"));
  SetTitle(GroupBox1, lower("SCROLL SETTINGS"));
  SetTitle(GroupBox2, Label2, lower("FIRST LINE"));
  SetTitle(GroupBox3, Label6, lower("LAST LINE"));
  SetTitle(GroupBox4, Label7, lower("SPEED"));
  SetTitle(RadioGroup1, lower("TYPE OF SCROLL"));

  // Rebuilding the items drops the selection; restoring it counts as a click, so the
  // device is told the scroll type (and reset) on every pass.
  const int selected = RadioGroup1->ItemIndex();
  RadioGroup1->ClearItems();
  for (const std::string_view key : {"OFF", "VERTICAL", "HORIZONTAL"}) {
    RadioGroup1->AddItem(lower(key));
  }
  RadioGroup1->SetItemIndex(selected);

  // The log's own lines are UTF-8; this one joins them.
  PortConnectedText = lower("PORT CONNECTED").toStdString();
}

} // namespace kv58
