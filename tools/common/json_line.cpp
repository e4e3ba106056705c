#include "tools/common/json_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

namespace kv58 {
namespace {

using Json = nlohmann::ordered_json;

// The well-formed UTF-8 sequences by their first byte (RFC 3629, table 3-7 of Unicode): the
// second byte's range rules out overlong forms, surrogates (ED A0..BF) and code points past
// U+10FFFF; the bytes after it are any continuation byte.
struct Utf8Lead {
  unsigned char first, last; // the range of the lead byte
  std::size_t length;
  unsigned char secondLow, secondHigh;
};
constexpr std::array<Utf8Lead, 8> kUtf8Leads{{{0xC2, 0xDF, 2, 0x80, 0xBF},
                                              {0xE0, 0xE0, 3, 0xA0, 0xBF},
                                              {0xE1, 0xEC, 3, 0x80, 0xBF},
                                              {0xED, 0xED, 3, 0x80, 0x9F},
                                              {0xEE, 0xEF, 3, 0x80, 0xBF},
                                              {0xF0, 0xF0, 4, 0x90, 0xBF},
                                              {0xF1, 0xF3, 4, 0x80, 0xBF},
                                              {0xF4, 0xF4, 4, 0x80, 0x8F}}};

// The length of the well-formed UTF-8 sequence starting at `at`, or 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  if (byte(0) < 0x80) {
    return 1;
  }
  const auto* lead =
      std::find_if(kUtf8Leads.begin(), kUtf8Leads.end(), [first = byte(0)](const Utf8Lead& candidate) {
        return first >= candidate.first && first <= candidate.last;
      });
  if (lead == kUtf8Leads.end() || at + lead->length > text.size() || byte(1) < lead->secondLow ||
      byte(1) > lead->secondHigh) {
    return 0;
  }
  for (std::size_t i = 2; i < lead->length; ++i) {
    if ((byte(i) & 0xC0U) != 0x80) {
      return 0;
    }
  }
  return lead->length;
}

void AppendCodePointOfByte(std::string& out, char byte) {
  const auto value = static_cast<unsigned char>(byte);
  if (value < 0x80) {
    out.push_back(byte);
    return;
  }
  out.push_back(static_cast<char>(0xC0U | (value >> 6U)));
  out.push_back(static_cast<char>(0x80U | (value & 0x3FU)));
}

// The inside of the JSON string that nlohmann writes for `utf8` (valid UTF-8; strict, so a slip
// here throws rather than writing a line that is not UTF-8). `ascii`: every character past 7E
// as a \u escape.
std::string SerializedInside(std::string_view utf8, bool ascii) {
  const std::string quoted = Json(std::string(utf8)).dump(-1, ' ', ascii, Json::error_handler_t::strict);
  return quoted.substr(1, quoted.size() - 2);
}

} // namespace

std::string JsonText(std::string_view bytes, HighBytes high) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t sequence = high == HighBytes::AsText ? Utf8Length(bytes, at) : 0;
    if (sequence > 0) {
      out.append(bytes.substr(at, sequence));
      at += sequence;
    } else {
      AppendCodePointOfByte(out, bytes[at++]);
    }
  }
  return out;
}

std::string JsonEscape(std::string_view bytes, HighBytes high) {
  if (high == HighBytes::AsCodePoints) {
    return SerializedInside(JsonText(bytes, high), true);
  }
  // Runs of valid UTF-8 as they are; each stray byte as \u00nn, so a reader of the line can
  // still tell it from the same character sent as UTF-8.
  std::string out;
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t end = at;
    for (std::size_t sequence = 0; end < bytes.size() && (sequence = Utf8Length(bytes, end)) > 0;) {
      end += sequence;
    }
    if (end > at) {
      out += SerializedInside(bytes.substr(at, end - at), false);
      at = end;
    } else {
      out += SerializedInside(JsonText(bytes.substr(at, 1), HighBytes::AsCodePoints), true);
      ++at;
    }
  }
  return out;
}

void JsonLine::Key(std::string_view key) {
  text_ += (text_.size() > 1 ? ",\"" : "\"") + JsonEscape(key, HighBytes::AsText) + "\":";
}

JsonLine& JsonLine::Add(std::string_view key, bool value) {
  Key(key);
  text_ += Json(value).dump();
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, double number) {
  Key(key);
  if (!std::isfinite(number)) {
    text_ += Json(nullptr).dump(); // JSON has no NaN or infinity
    return *this;
  }
  // Fixed, three decimals, whatever the locale (nlohmann writes the shortest form instead).
  std::array<char, 400> text{};
  const auto written =
      std::to_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed, 3);
  text_.append(text.data(), written.ptr);
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
