#include "common/int_parse.h"

#include <optional>

namespace kv58 {
namespace {

constexpr std::uint64_t kMaxHex = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxPositive = 2147483647u;
constexpr std::uint64_t kMaxNegative = 2147483648u;

std::optional<unsigned> DigitValue(char c, unsigned base) {
  unsigned value = 0;
  if (c >= '0' && c <= '9') {
    value = static_cast<unsigned>(c - '0');
  } else if (base == 16 && c >= 'a' && c <= 'f') {
    value = static_cast<unsigned>(c - 'a') + 10;
  } else if (base == 16 && c >= 'A' && c <= 'F') {
    value = static_cast<unsigned>(c - 'A') + 10;
  } else {
    return std::nullopt;
  }
  return value;
}

// Digits only, at least one, value at most `limit`.
std::optional<std::uint64_t> ParseDigits(std::string_view digits, unsigned base, std::uint64_t limit) {
  if (digits.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (char c : digits) {
    const auto digit = DigitValue(c, base);
    if (!digit) {
      return std::nullopt;
    }
    value = value * base + *digit;
    if (value > limit) {
      return std::nullopt;
    }
  }
  return value;
}

std::optional<std::size_t> HexMarkLength(std::string_view text) {
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
    return 1;
  }
  if (text.starts_with("0x") || text.starts_with("0X")) {
    return 2;
  }
  return std::nullopt;
}

std::optional<std::int32_t> ParseHex(std::string_view digits) {
  const auto value = ParseDigits(digits, 16, kMaxHex);
  if (!value) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) {
    text.remove_prefix(1);
  }
  const auto magnitude = ParseDigits(text, 10, negative ? kMaxNegative : kMaxPositive);
  if (!magnitude) {
    return std::nullopt;
  }
  const auto signedMagnitude = static_cast<std::int64_t>(*magnitude);
  return static_cast<std::int32_t>(negative ? -signedMagnitude : signedMagnitude);
}

} // namespace

std::int32_t ToIntOrDefault(std::string_view text, std::int32_t fallback) {
  const auto firstNonBlank = text.find_first_not_of(' ');
  if (firstNonBlank == std::string_view::npos) {
    return fallback;
  }
  text.remove_prefix(firstNonBlank);
  const auto markLength = HexMarkLength(text);
  const auto parsed = markLength ? ParseHex(text.substr(*markLength)) : ParseDecimal(text);
  return parsed.value_or(fallback);
}

} // namespace kv58
