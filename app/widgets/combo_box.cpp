#include "app/widgets/combo_box.h"

#include <QLineEdit>

namespace kv58 {

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert); // a typed text is used as typed, never added to the list
  connect(lineEdit(), &QLineEdit::textEdited, this, &TComboBox::OnTextEdited);
  connect(this, &QComboBox::activated, this, &TComboBox::OnActivated);
}

void TComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= count()) {
    return;
  }
  itemIndex_ = index;
  if (index >= 0) {
    setCurrentIndex(index);
  }
}

void TComboBox::ClearAll() {
  clear();
  clearEditText();
  itemIndex_ = -1;
}

void TComboBox::showPopup() {
  emit DropDown();
  QComboBox::showPopup();
}

void TComboBox::OnTextEdited(const QString& text) {
  itemIndex_ = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  emit Change();
}

void TComboBox::OnActivated(int index) {
  itemIndex_ = index;
  emit Change();
}

} // namespace kv58
