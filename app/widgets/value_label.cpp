#include "app/widgets/value_label.h"

namespace kv58 {

TValueLabel::TValueLabel(const QString& caption, const QString& value, QWidget* parent)
    : QLabel(value, parent), caption_(caption) {
  UpdateAccessibleName();
}

void TValueLabel::SetValue(const QString& value) {
  setText(value);
  UpdateAccessibleName();
}

void TValueLabel::SetCaption(const QString& caption) {
  caption_ = caption;
  UpdateAccessibleName();
}

void TValueLabel::UpdateAccessibleName() { setAccessibleName(caption_ + QStringLiteral(": ") + text()); }

} // namespace kv58
