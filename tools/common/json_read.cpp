#include "tools/common/json_read.h"

namespace kv58 {

std::optional<nlohmann::ordered_json> ParseJson(std::string_view text, std::string* error) {
  try {
    return nlohmann::ordered_json::parse(text.begin(), text.end(), nullptr, true, false);
  } catch (const nlohmann::ordered_json::parse_error& failure) {
    if (error != nullptr) {
      // nlohmann's own words quote what it last read, which may be any bytes: keep the reason.
      std::string reason = failure.what();
      const std::size_t after = reason.find(": ", reason.find("column"));
      reason = after == std::string::npos ? "syntax error" : reason.substr(after + 2);
      reason = reason.substr(0, reason.find("; last read"));
      *error = "not JSON at byte " + std::to_string(failure.byte) + ": " + reason;
    }
    return std::nullopt;
  } catch (const nlohmann::ordered_json::exception&) {
    // A number past what a double holds (1e999) is the one other way strict JSON is refused.
    if (error != nullptr) {
      *error = "not JSON that can be read: a number is too large";
    }
    return std::nullopt;
  }
}

std::optional<std::string> BytesFromCodePoints(std::string_view utf8) {
  std::string bytes;
  bytes.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    if (lead < 0x80) {
      bytes.push_back(utf8[at]);
      continue;
    }
    if ((lead != 0xC2 && lead != 0xC3) || at + 1 == utf8.size() ||
        (static_cast<unsigned char>(utf8[at + 1]) & 0xC0U) != 0x80) {
      return std::nullopt;
    }
    bytes.push_back(
        static_cast<char>(((lead & 0x03U) << 6U) | (static_cast<unsigned char>(utf8[at + 1]) & 0x3FU)));
    ++at;
  }
  return bytes;
}

} // namespace kv58
