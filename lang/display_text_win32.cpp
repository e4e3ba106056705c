#include "lang/display_text.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <windows.h>

namespace kv58 {
namespace {

// The Win32 conversions count in int; longer texts go through in pieces of this size. A
// double-byte code page could see a character split at a piece boundary, which only a text
// of a gigabyte or more would meet.
constexpr std::size_t kMaxPieceBytes = INT_MAX / 4; // three UTF-8 bytes per byte at most still fit

std::wstring AnsiToWide(std::string_view piece) {
  const int inLength = static_cast<int>(piece.size());
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, piece.data(), inLength, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(wideLength, 0)), L'\0');
  if (wideLength > 0) {
    MultiByteToWideChar(CP_ACP, 0, piece.data(), inLength, wide.data(), wideLength);
  }
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  const int wideLength = static_cast<int>(wide.size());
  const int utf8Length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(utf8Length, 0)), '\0');
  if (utf8Length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length, nullptr, nullptr);
  }
  return utf8;
}

} // namespace

std::string DecodeForDisplay(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf8) {
    return std::string(bytes);
  }
  std::string out;
  while (!bytes.empty()) {
    const auto piece = bytes.substr(0, kMaxPieceBytes);
    out += WideToUtf8(AnsiToWide(piece));
    bytes.remove_prefix(piece.size());
  }
  return out;
}

} // namespace kv58
