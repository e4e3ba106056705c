#pragma once
// The window's side of the text rule: the core keeps texts as bytes; widgets show them
// decoded. Typed texts go back to the core as the system's 8-bit text.

#include <QString>
#include <string>
#include <string_view>

#include "lang/text_encoding.h"

namespace kv58 {

// Bytes from the system (port names) as the window shows them: the system's 8-bit text.
[[nodiscard]] QString FromBytes(std::string_view bytes);
// A language file's text, decoded as judged once for the whole file.
[[nodiscard]] QString FromBytes(std::string_view bytes, TextEncoding encoding);
// A widget's text as the core takes it: the system's 8-bit encoding.
[[nodiscard]] std::string ToBytes(const QString& text);

} // namespace kv58
