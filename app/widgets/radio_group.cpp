#include "app/widgets/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

namespace kv58 {

TRadioGroup::TRadioGroup(const QString& caption, int columns, QWidget* parent)
    : QGroupBox(caption, parent), columns_(columns), buttons_(new QButtonGroup(this)),
      layout_(new QGridLayout(this)) {
  buttons_->setExclusive(false); // exclusivity is ours, so "no selection" stays possible
  layout_->setContentsMargins(8, 4, 8, 4);
  connect(buttons_, &QButtonGroup::idClicked, this, &TRadioGroup::SetItemIndex);
}

QStringList TRadioGroup::Items() const {
  QStringList texts;
  for (QAbstractButton* button : buttons_->buttons()) {
    texts << button->text();
  }
  return texts;
}

void TRadioGroup::ClearItems() {
  itemIndex_ = -1;
  for (QAbstractButton* button : buttons_->buttons()) {
    buttons_->removeButton(button);
    delete button;
  }
}

void TRadioGroup::AddItem(const QString& text) {
  auto* button = new QRadioButton(text, this);
  button->setAutoExclusive(false);
  buttons_->addButton(button, static_cast<int>(buttons_->buttons().size()));
  PlaceButtons();
  button->show();
}

void TRadioGroup::SetItemIndex(int index) {
  const auto count = static_cast<int>(buttons_->buttons().size());
  if (index < -1 || index >= count) {
    return;
  }
  for (int i = 0; i < count; ++i) {
    buttons_->button(i)->setChecked(i == index);
  }
  if (index == itemIndex_) {
    return;
  }
  itemIndex_ = index;
  if (index != -1) {
    emit Click();
  }
}

QRadioButton* TRadioGroup::Button(int index) const {
  return qobject_cast<QRadioButton*>(buttons_->button(index));
}

void TRadioGroup::PlaceButtons() {
  const auto buttons = buttons_->buttons();
  const auto count = static_cast<int>(buttons.size());
  const int rows = (count + columns_ - 1) / columns_;
  for (int i = 0; i < count; ++i) {
    layout_->addWidget(buttons_->button(i), i % rows, i / rows); // filled column by column
  }
}

} // namespace kv58
