#include "app/widgets/track_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <optional>

namespace kv58 {
namespace {

// The keys of a Windows trackbar: Left, Up and PageUp go towards the minimum, Right, Down
// and PageDown towards the maximum (Qt's own slider raises the value on Up and PageUp).
std::optional<QAbstractSlider::SliderAction> TrackBarAction(int key) {
  switch (key) {
  case Qt::Key_Left:
  case Qt::Key_Up:
    return QAbstractSlider::SliderSingleStepSub;
  case Qt::Key_Right:
  case Qt::Key_Down:
    return QAbstractSlider::SliderSingleStepAdd;
  case Qt::Key_PageUp:
    return QAbstractSlider::SliderPageStepSub;
  case Qt::Key_PageDown:
    return QAbstractSlider::SliderPageStepAdd;
  case Qt::Key_Home:
    return QAbstractSlider::SliderToMinimum;
  case Qt::Key_End:
    return QAbstractSlider::SliderToMaximum;
  default:
    return std::nullopt;
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
  const auto action = TrackBarAction(event->key());
  if (!action) {
    QSlider::keyPressEvent(event);
    return;
  }
  event->accept();
  const int before = value();
  triggerAction(*action);
  if (value() == before && isEnabled()) {
    emit Change(); // pressed against the end of the range: the user still moved it
  }
}

void TTrackBar::keyReleaseEvent(QKeyEvent* event) {
  QSlider::keyReleaseEvent(event);
  if (TrackBarAction(event->key()) && !event->isAutoRepeat() && isEnabled()) {
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
