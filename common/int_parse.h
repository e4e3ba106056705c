#pragma once
// The one conversion of text to a whole number, shared by the port name, the line speed
// and the port sort. Strict: the whole text must be the number, or the fallback comes back.

#include <charconv>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv58 {

// Accepts leading spaces, then either an optional sign and decimal digits within the signed
// 32-bit range, or a hexadecimal mark ($, x, X, 0x, 0X) and up to 32 bits of hexadecimal
// digits read as a signed bit pattern. Anything else, trailing blanks included, gives
// `fallback`.
[[nodiscard]] std::int32_t ToIntOrDefault(std::string_view text, std::int32_t fallback);

// The whole of `text` as a decimal number of type T, for the command lines and port names:
// digits only, with a leading '-' only for a signed T. None for "", "+4", "4x", " 4" or a
// number beyond T.
template <std::integral T> [[nodiscard]] std::optional<T> WholeDecimal(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

} // namespace kv58
