#pragma once
// A drop-down list with editable text. DropDown fires just before the list opens, so the
// list can be rebuilt; Change fires when the user picks an item or edits the text, never
// when code selects. ItemIndex is the picked item, and -1 once the user has typed a text
// that is not exactly one of the items.

#include <QComboBox>

namespace kv58 {

class TComboBox : public QComboBox {
  Q_OBJECT
public:
  explicit TComboBox(QWidget* parent);

  [[nodiscard]] int ItemIndex() const { return itemIndex_; }
  // Selects from code: no Change. -1 selects nothing and keeps the text.
  void SetItemIndex(int index);
  // Empties the items and the edit text.
  void ClearAll();
  void showPopup() override;

signals:
  void DropDown();
  void Change();

private:
  void OnTextEdited(const QString& text);
  void OnActivated(int index);

  int itemIndex_ = -1;
};

} // namespace kv58
