#pragma once
// Where the main window opens: at its designed point when its whole frame fits on the screen
// that holds the point, else moved just enough to fit. A pure rule over rectangles, so it is
// tested for any screen without one.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace kv58 {

// The top-left corner for a frame of the given size. `area` is the available area (without
// task bar and panels) of the screen that holds `designed`, or nothing when no screen holds
// it; the frame is then centred on `primaryArea`. A frame that does not fit is moved up and
// left by the least amount that makes it fit, never above or left of the area's top-left
// corner, so the title bar stays reachable when the frame is larger than the area.
[[nodiscard]] QPoint PlaceFrame(QSize frame, QPoint designed, const std::optional<QRect>& area,
                                const QRect& primaryArea);

} // namespace kv58
