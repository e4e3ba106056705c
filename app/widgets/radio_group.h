#pragma once
// A captioned group of radio buttons laid out in columns, addressed by item index. Its
// Click signal fires whenever the selected index moves to another item, by the user or by
// code, also while the group is disabled. Clearing the items leaves no selection and fires
// nothing; clicking the item that is already selected fires nothing.

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
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

private:
  void PlaceButtons();

  int columns_;
  int itemIndex_ = -1;
  QButtonGroup* buttons_;
  QGridLayout* layout_;
};

} // namespace kv58
