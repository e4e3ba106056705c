#include "lang/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kv58 {
namespace {

struct LeadByteRule {
  std::size_t continuationCount;
  // Bounds of the first continuation byte: narrowing them after E0, ED, F0 and F4 is what
  // rules out overlong forms, surrogates and code points above U+10FFFF.
  std::uint8_t secondMin;
  std::uint8_t secondMax;
};

constexpr std::uint8_t kContinuationMin = 0x80;
constexpr std::uint8_t kContinuationMax = 0xBF;

// Follows the table of well-formed byte sequences of the Unicode standard (table 3-7).
// A lead byte outside every rule (80..C1, F5..FF) gives continuationCount 0 and an empty range.
LeadByteRule RuleFor(std::uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {1, kContinuationMin, kContinuationMax};
  }
  if (lead == 0xE0) {
    return {2, 0xA0, kContinuationMax};
  }
  if (lead == 0xED) {
    return {2, kContinuationMin, 0x9F};
  }
  if (lead >= 0xE1 && lead <= 0xEF) {
    return {2, kContinuationMin, kContinuationMax};
  }
  if (lead == 0xF0) {
    return {3, 0x90, kContinuationMax};
  }
  if (lead >= 0xF1 && lead <= 0xF3) {
    return {3, kContinuationMin, kContinuationMax};
  }
  if (lead == 0xF4) {
    return {3, kContinuationMin, 0x8F};
  }
  return {0, 1, 0};
}

bool InRange(std::uint8_t byte, std::uint8_t low, std::uint8_t high) { return byte >= low && byte <= high; }

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Where the run of ASCII bytes from `at` ends, looked at eight bytes at a time: most language
// files are ASCII but for a few letters.
std::size_t SkipAscii(std::string_view bytes, std::size_t at) noexcept {
  while (bytes.size() - at >= sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, sizeof word);
    if ((word & kHighBits) != 0) {
      break;
    }
    at += sizeof word;
  }
  return at;
}

} // namespace

bool IsValidUtf8(std::string_view bytes) noexcept {
  std::size_t at = 0;
  while ((at = SkipAscii(bytes, at)) < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[at]);
    if (lead < 0x80) {
      ++at;
      continue;
    }
    const LeadByteRule rule = RuleFor(lead);
    if (rule.continuationCount == 0 || bytes.size() - at <= rule.continuationCount) {
      return false;
    }
    if (!InRange(static_cast<std::uint8_t>(bytes[at + 1]), rule.secondMin, rule.secondMax)) {
      return false;
    }
    for (std::size_t next = 2; next <= rule.continuationCount; ++next) {
      if (!InRange(static_cast<std::uint8_t>(bytes[at + next]), kContinuationMin, kContinuationMax)) {
        return false;
      }
    }
    at += rule.continuationCount + 1;
  }
  return true;
}

} // namespace kv58
