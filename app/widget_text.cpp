#include "app/widget_text.h"

#include <QByteArray>

#include "lang/display_text.h"

namespace kv58 {

QString FromBytes(std::string_view bytes) {
  return QString::fromLocal8Bit(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QString FromBytes(std::string_view bytes, TextEncoding encoding) {
  return QString::fromStdString(DecodeForDisplay(bytes, encoding));
}

std::string ToBytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

} // namespace kv58
