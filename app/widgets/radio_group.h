#pragma once
// A captioned group of radio buttons laid out in columns, addressed by item index. Its
// Click signal fires whenever the selected index moves to another item, by the user or by
// code, also while the group is disabled. Clearing the items leaves no selection and fires
// nothing; clicking the item that is already selected fires nothing.
// From the keyboard it is one stop in the window's tab chain, entered on the selected item
// (the first one when none is selected); the arrow keys move the selection round the items.
// Assistive technology sees radio buttons, one of them checked; the items are named after the
// group's object name and their place (RadioGroup1Item0).

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QGridLayout;
class QRadioButton;

namespace kv58 {

class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  TRadioGroup(const QString& caption, int columns, QWidget* parent);

  [[nodiscard]] QStringList Items() const;
  void ClearItems();
  void AddItem(const QString& text);
  [[nodiscard]] int ItemIndex() const { return itemIndex_; }
  // -1 selects nothing; an index outside the items is ignored.
  void SetItemIndex(int index);
  [[nodiscard]] QRadioButton* Button(int index) const;

signals:
  void Click();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  [[nodiscard]] QRadioButton* TakeButton(const QString& text);
  void PlaceButtons();
  void UpdateTabStop();
  void NameButton(int index);
  void MoveSelection(int step);

  int columns_;
  int itemIndex_ = -1;
  int count_ = 0; // the first count_ buttons are the items; the rest wait hidden for reuse
  QList<QRadioButton*> buttons_;
  QGridLayout* layout_;
};

} // namespace kv58
