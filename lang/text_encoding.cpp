#include "lang/text_encoding.h"

#include "lang/utf8.h"

namespace kv58 {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

} // namespace

void TextEncodingJudge::SeeLine(std::string_view line) {
  if (!seenFirstLine_) {
    seenFirstLine_ = true;
    byteOrderMark_ = line.starts_with(kUtf8ByteOrderMark);
  }
  allUtf8_ = allUtf8_ && IsValidUtf8(line);
}

TextEncoding TextEncodingJudge::Verdict() const {
  return byteOrderMark_ || allUtf8_ ? TextEncoding::Utf8 : TextEncoding::Ansi;
}

} // namespace kv58
