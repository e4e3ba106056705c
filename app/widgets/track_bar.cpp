#include "app/widgets/track_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace kv58 {
namespace {

bool IsMovementKey(int key) {
  switch (key) {
  case Qt::Key_Left:
  case Qt::Key_Right:
  case Qt::Key_Up:
  case Qt::Key_Down:
  case Qt::Key_PageUp:
  case Qt::Key_PageDown:
  case Qt::Key_Home:
  case Qt::Key_End:
    return true;
  default:
    return false;
  }
}

} // namespace

TTrackBar::TTrackBar(int minimum, int maximum, int position, QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
  setRange(minimum, maximum);
  setValue(position);
  setSingleStep(1);
  setPageStep(2);
  setTickPosition(QSlider::TicksBelow);
  setTickInterval(1);
  setTracking(true);
  // Connected after the initial value, so building the slider fires nothing.
  connect(this, &QSlider::valueChanged, this, &TTrackBar::Change);
}

void TTrackBar::keyPressEvent(QKeyEvent* event) {
  const int before = value();
  QSlider::keyPressEvent(event);
  if (IsMovementKey(event->key()) && value() == before && isEnabled()) {
    emit Change(); // pressed against the end of the range: the user still moved it
  }
}

void TTrackBar::keyReleaseEvent(QKeyEvent* event) {
  QSlider::keyReleaseEvent(event);
  if (IsMovementKey(event->key()) && !event->isAutoRepeat() && isEnabled()) {
    emit Change();
  }
}

void TTrackBar::mousePressEvent(QMouseEvent* event) {
  QSlider::mousePressEvent(event);
  pressed_ = event->button() == Qt::LeftButton && isEnabled();
}

void TTrackBar::mouseReleaseEvent(QMouseEvent* event) {
  QSlider::mouseReleaseEvent(event);
  if (pressed_ && event->button() == Qt::LeftButton) {
    pressed_ = false;
    emit Change();
  }
}

} // namespace kv58
