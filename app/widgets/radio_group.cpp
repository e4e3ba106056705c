#include "app/widgets/radio_group.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QRadioButton>

namespace kv58 {
namespace {

// Left and Up step back, Right and Down forward, as in a Windows radio group.
int ArrowStep(int key) {
  switch (key) {
  case Qt::Key_Left:
  case Qt::Key_Up:
    return -1;
  case Qt::Key_Right:
  case Qt::Key_Down:
    return 1;
  default:
    return 0;
  }
}

// An auto-exclusive button refuses to be unchecked while it is its group's checked one; the
// group allows no selection, so the button lets go of its exclusivity for the moment.
void Uncheck(QRadioButton* button) {
  button->setAutoExclusive(false);
  button->setChecked(false);
  button->setAutoExclusive(true);
}

} // namespace

TRadioGroup::TRadioGroup(const QString& caption, int columns, QWidget* parent)
    : QGroupBox(caption, parent), columns_(columns), layout_(new QGridLayout(this)) {
  layout_->setContentsMargins(8, 4, 8, 4);
  connect(this, &QObject::objectNameChanged, this, [this] {
    for (int i = 0; i < buttons_.size(); ++i) {
      NameButton(i);
    }
  });
}

QStringList TRadioGroup::Items() const {
  QStringList texts;
  for (int i = 0; i < count_; ++i) {
    texts << buttons_[i]->text();
  }
  return texts;
}

// The buttons are hidden, not destroyed: reused by the next items, they keep their place in
// the window's tab chain, which new widgets would only join at its end.
void TRadioGroup::ClearItems() {
  itemIndex_ = -1;
  count_ = 0;
  for (QRadioButton* button : buttons_) {
    Uncheck(button);
    button->hide();
  }
}

void TRadioGroup::AddItem(const QString& text) {
  QRadioButton* button = TakeButton(text);
  ++count_;
  PlaceButtons();
  UpdateTabStop();
  button->show();
}

QRadioButton* TRadioGroup::TakeButton(const QString& text) {
  if (count_ < buttons_.size()) {
    QRadioButton* button = buttons_[count_];
    button->setText(text);
    return button;
  }
  // Auto-exclusive, so that assistive technology takes the buttons for radio buttons: one
  // checked among them. Which one is still ours to say, and "no selection" stays possible.
  auto* button = new QRadioButton(text, this);
  button->installEventFilter(this);
  const int index = static_cast<int>(buttons_.size());
  // Checked by a click, the keyboard's space, or assistive technology's toggle action alike.
  connect(button, &QRadioButton::toggled, this, [this, index](bool checked) {
    if (checked && index != itemIndex_) {
      SetItemIndex(index);
    }
  });
  if (!buttons_.isEmpty()) {
    setTabOrder(buttons_.last(), button);
  }
  buttons_.append(button);
  NameButton(index);
  return button;
}

void TRadioGroup::SetItemIndex(int index) {
  if (index < -1 || index >= count_) {
    return;
  }
  const bool moved = index != itemIndex_;
  itemIndex_ = index; // first: checking the button below then reads as no move
  for (int i = 0; i < count_; ++i) {
    if (i == index) {
      buttons_[i]->setChecked(true);
    } else {
      Uncheck(buttons_[i]);
    }
  }
  if (!moved) {
    return;
  }
  UpdateTabStop();
  if (index != -1) {
    emit Click();
  }
}

QRadioButton* TRadioGroup::Button(int index) const {
  return index >= 0 && index < count_ ? buttons_[index] : nullptr;
}

// "RadioGroup1Item0": the item's place, the same in every language.
void TRadioGroup::NameButton(int index) {
  buttons_[index]->setObjectName(objectName().isEmpty() ? QString()
                                                        : objectName() + QStringLiteral("Item%1").arg(index));
}

bool TRadioGroup::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) {
    return QGroupBox::eventFilter(watched, event);
  }
  const int step = ArrowStep(static_cast<QKeyEvent*>(event)->key());
  if (step == 0) {
    return QGroupBox::eventFilter(watched, event);
  }
  MoveSelection(step);
  return true;
}

void TRadioGroup::MoveSelection(int step) {
  if (count_ == 0) {
    return;
  }
  const int from = itemIndex_ == -1 ? (step > 0 ? -1 : 0) : itemIndex_;
  const int to = (from + step + count_) % count_;
  SetItemIndex(to);
  buttons_[to]->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

// Only one button is a tab stop: the selected one, or the first while none is selected.
// The others still take focus from a click.
void TRadioGroup::UpdateTabStop() {
  const int stop = itemIndex_ == -1 ? 0 : itemIndex_;
  for (int i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setFocusPolicy(i == stop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void TRadioGroup::PlaceButtons() {
  const int rows = (count_ + columns_ - 1) / columns_;
  for (int i = 0; i < count_; ++i) {
    layout_->addWidget(buttons_[i], i % rows, i / rows); // filled column by column
  }
}

} // namespace kv58
