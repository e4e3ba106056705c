#include "tools/common/json_line.h"

#include <array>
#include <cstdio>

#include "tools/common/byte_escape.h"

namespace kv58 {
namespace {

// The length of the UTF-8 sequence starting at `at`, or 0 when it is not a valid one.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF5 ? 4
                                                           : 0;
  if (length == 0 || at + length > text.size()) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

} // namespace

std::string JsonEscape(std::string_view bytes, HighBytes high) {
  return EscapeBytes(bytes, [high](std::string& out, std::string_view all, std::size_t at) -> std::size_t {
    const auto byte = static_cast<unsigned char>(all[at]);
    const std::size_t sequence = byte >= 0x80 && high == HighBytes::AsText ? Utf8Length(all, at) : 0;
    if (sequence > 1) {
      out.append(all.substr(at, sequence));
      return sequence;
    }
    if (IsPrintableAscii(byte)) {
      out.push_back(all[at]);
    } else {
      out += "\\u00";
      AppendHexByte(out, byte);
    }
    return 1;
  });
}

void JsonLine::Key(std::string_view key) {
  text_ += (text_.size() > 1 ? ",\"" : "\"") + JsonEscape(key, HighBytes::AsText) + "\":";
}

JsonLine& JsonLine::Add(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, double number) {
  Key(key);
  std::array<char, 32> text{};
  (void)std::snprintf(text.data(), text.size(), "%.3f", number);
  text_ += text.data();
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view text, HighBytes high) {
  Key(key);
  text_ += '"' + JsonEscape(text, high) + '"';
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, const std::vector<std::string>& texts) {
  Key(key);
  text_ += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    text_ += (i == 0 ? "\"" : ",\"") + JsonEscape(texts[i], HighBytes::AsText) + '"';
  }
  text_ += ']';
  return *this;
}

} // namespace kv58
