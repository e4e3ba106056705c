#include "app/fonts.h"

#include <QStringList>

namespace kv58 {

QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QFont ControlFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(16);
  return font;
}

} // namespace kv58
