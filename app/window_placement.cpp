#include "app/window_placement.h"

#include <algorithm>

namespace kv58 {
namespace {

// Moves the frame up and left until its bottom-right corner is inside the area, then back
// down and right if that took its top-left corner out.
QPoint KeepInside(QPoint topLeft, QSize frame, const QRect& area) {
  const int x = std::max(std::min(topLeft.x(), area.x() + area.width() - frame.width()), area.x());
  const int y = std::max(std::min(topLeft.y(), area.y() + area.height() - frame.height()), area.y());
  return {x, y};
}

} // namespace

QPoint PlaceFrame(QSize frame, QPoint designed, const std::optional<QRect>& area, const QRect& primaryArea) {
  if (area) {
    return KeepInside(designed, frame, *area);
  }
  QRect centred({}, frame);
  centred.moveCenter(primaryArea.center());
  return KeepInside(centred.topLeft(), frame, primaryArea);
}

} // namespace kv58
