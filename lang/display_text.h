#pragma once
// Turns the bytes of a text (a language cell, a file name) into UTF-8 for the window to show.
// The core keeps texts as bytes and counts bytes; this conversion is for display only.

#include <string>
#include <string_view>

namespace kv58 {

// The bytes unchanged when they are well-formed UTF-8; otherwise, on Windows, read in the
// system's ANSI code page, and elsewhere read as Windows-1250,
// so that language files saved by the Windows build show their Polish letters. The five
// bytes that Windows-1250 leaves undefined (81, 83, 88, 90, 98 hex) each become U+FFFD and
// the rest of the text follows.
[[nodiscard]] std::string DecodeForDisplay(std::string_view bytes);

} // namespace kv58
