#include "app/display_text.h"

#include "lang/display_text.h"

namespace kv58 {

QString FromBytes(std::string_view bytes) { return QString::fromStdString(DecodeForDisplay(bytes)); }

std::string ToBytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

} // namespace kv58
