#pragma once
// The escapes that C strings and JSON strings share, for the tools' printing of bytes:
// \" \\ \n \r \t, and two lowercase hex digits for a byte.

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace kv58 {

inline void AppendHexByte(std::string& out, unsigned char byte) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  out.push_back(kDigits[byte >> 4U]);
  out.push_back(kDigits[byte & 0x0FU]);
}

inline bool IsPrintableAscii(unsigned char byte) { return byte >= 0x20 && byte < 0x7F; }

// `bytes` with the shared escapes; every other byte is `other`'s to write, called as
// other(out, bytes, at), and returns how many bytes it took (at least one).
template <typename OtherBytes> std::string EscapeBytes(std::string_view bytes, OtherBytes other) {
  constexpr std::array<std::pair<char, std::string_view>, 5> kShared{
      {{'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}}};
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const auto* shared = std::find_if(kShared.begin(), kShared.end(),
                                      [c = bytes[at]](const auto& escape) { return escape.first == c; });
    if (shared != kShared.end()) {
      out += shared->second;
      ++at;
    } else {
      at += other(out, bytes, at);
    }
  }
  return out;
}

} // namespace kv58
