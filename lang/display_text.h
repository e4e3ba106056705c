#pragma once
// Turns the bytes of a language file's text into UTF-8 for the window to show. The core keeps
// texts as bytes and counts bytes; this conversion is for display only.

#include <string>
#include <string_view>

#include "lang/text_encoding.h"

namespace kv58 {

// Utf8: the bytes unchanged (the window's decoder shows an ill-formed sequence as U+FFFD).
// Ansi: read in the system's ANSI code page on Windows, and as Windows-1250 elsewhere, so that
// language files saved by Windows programs show their Polish letters; the five bytes that
// Windows-1250 leaves undefined (81, 83, 88, 90, 98 hex) each become U+FFFD.
[[nodiscard]] std::string DecodeForDisplay(std::string_view bytes, TextEncoding encoding);

} // namespace kv58
