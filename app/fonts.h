#pragma once
// The two fonts of the window. "Comic Sans MS" is missing on most Linux desktops; Comic
// Neue looks closest, then the default sans font. Sizes are in pixels, as designed.

#include <QFont>

namespace kv58 {

// The window's own font: only the panel and the hidden log use it.
[[nodiscard]] QFont WindowFont();
// Every control with text.
[[nodiscard]] QFont ControlFont();

} // namespace kv58
