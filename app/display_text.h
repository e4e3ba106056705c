#pragma once
// The window's side of the text rule: the core keeps texts as bytes; widgets show them
// decoded. Typed texts go back to the core as the system's 8-bit text.

#include <QString>
#include <string>
#include <string_view>

namespace kv58 {

// Bytes from the core (language cells, file paths) as the window shows them.
[[nodiscard]] QString FromBytes(std::string_view bytes);
// A widget's text as the core takes it: the system's 8-bit encoding.
[[nodiscard]] std::string ToBytes(const QString& text);

} // namespace kv58
