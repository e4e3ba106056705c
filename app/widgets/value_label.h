#pragma once
// A number shown on its own beside what it counts: a slider's position, a file's size. The
// screen shows the number alone; assistive technology hears "caption: number", so that a
// screen reader never reads out a bare number.

#include <QLabel>

namespace kv58 {

class TValueLabel : public QLabel {
  Q_OBJECT
public:
  TValueLabel(const QString& caption, const QString& value, QWidget* parent);

  void SetValue(const QString& value);
  // What the number counts, in the window's language.
  void SetCaption(const QString& caption);

private:
  void UpdateAccessibleName();

  QString caption_;
};

} // namespace kv58
