#include "tools/kv58/json_line.h"

#include <array>
#include <cstdio>

namespace kv58::cli {
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

std::string UnicodeEscape(unsigned value) {
  std::array<char, 8> escaped{};
  (void)std::snprintf(escaped.data(), escaped.size(), "\\u%04x", value);
  return escaped.data();
}

} // namespace

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const std::size_t length = Utf8Length(text, at);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (length == 1 && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)) {
      quoted += UnicodeEscape(static_cast<unsigned char>(c));
    } else if (length == 0) {
      quoted += UnicodeEscape(static_cast<unsigned char>(c)); // a byte that is no UTF-8: as Latin-1
      at += 1;
      continue;
    } else {
      quoted.append(text.substr(at, length));
    }
    at += length == 0 ? 1 : length;
  }
  return quoted + "\"";
}

void JsonLine::Key(std::string_view key) {
  if (text_.size() > 1) {
    text_ += ',';
  }
  text_ += JsonString(key) + ':';
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view text) {
  Key(key);
  text_ += JsonString(text);
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, long long number) {
  Key(key);
  text_ += std::to_string(number);
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, double number) {
  Key(key);
  std::array<char, 32> text{};
  (void)std::snprintf(text.data(), text.size(), "%.3f", number);
  text_ += text.data();
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, const std::vector<std::string>& texts) {
  Key(key);
  text_ += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    text_ += (i > 0 ? "," : "") + JsonString(texts[i]);
  }
  text_ += ']';
  return *this;
}

} // namespace kv58::cli
