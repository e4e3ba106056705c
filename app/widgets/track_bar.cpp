#include "app/widgets/track_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

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

// A click anywhere beside the handle moves one page towards the click, not only a click on
// the thin groove: the whole height of the slider is the track.
void TTrackBar::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton && isEnabled();
  const QRect handle = HandleRect();
  const int x = event->position().toPoint().x();
  if (!pressed_ || (x >= handle.left() && x <= handle.right())) {
    QSlider::mousePressEvent(event);
    return;
  }
  triggerAction(x > handle.center().x() ? SliderPageStepAdd : SliderPageStepSub);
  event->accept();
}

void TTrackBar::mouseReleaseEvent(QMouseEvent* event) {
  QSlider::mouseReleaseEvent(event);
  if (pressed_ && event->button() == Qt::LeftButton) {
    pressed_ = false;
    emit Change();
  }
}

QRect TTrackBar::HandleRect() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

} // namespace kv58
