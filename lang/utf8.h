#pragma once
// Strict UTF-8 validation, which decides whether a text's bytes are shown as UTF-8 or as
// the Polish Windows code page.

#include <string_view>

namespace kv58 {

// True when `bytes` is well-formed UTF-8: shortest forms only, no surrogates (U+D800 to
// U+DFFF), nothing above U+10FFFF, no sequence cut short. The empty text is valid.
[[nodiscard]] bool IsValidUtf8(std::string_view bytes) noexcept;

} // namespace kv58
