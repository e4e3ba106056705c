#pragma once
// The four system colours the window uses, taken from the toolkit's palette so they follow
// the desktop's theme.

#include <QColor>
#include <QPalette>

namespace kv58 {

enum class TColor { clWindow, clBtnFace, clWindowText, clGrayText };

[[nodiscard]] inline QColor SystemColor(TColor color, const QPalette& palette) {
  switch (color) {
  case TColor::clWindow:
    return palette.color(QPalette::Active, QPalette::Base);
  case TColor::clBtnFace:
    return palette.color(QPalette::Active, QPalette::Button);
  case TColor::clWindowText:
    return palette.color(QPalette::Active, QPalette::WindowText);
  case TColor::clGrayText:
    return palette.color(QPalette::Disabled, QPalette::WindowText);
  }
  return {};
}

} // namespace kv58
