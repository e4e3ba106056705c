#pragma once
// The one conversion of text to a whole number, shared by the port name, the line speed
// and the port sort. Strict: the whole text must be the number, or the fallback comes back.

#include <cstdint>
#include <string_view>

namespace kv58 {

// Accepts leading spaces, then either an optional sign and decimal digits within the signed
// 32-bit range, or a hexadecimal mark ($, x, X, 0x, 0X) and up to 32 bits of hexadecimal
// digits read as a signed bit pattern. Anything else, trailing blanks included, gives
// `fallback`.
[[nodiscard]] std::int32_t ToIntOrDefault(std::string_view text, std::int32_t fallback);

} // namespace kv58
