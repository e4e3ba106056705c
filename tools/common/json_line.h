#pragma once
// One JSON object on one line (JSON Lines), for what the tools print for scripts to read:
// kv58's reports and the simulator's events. Keys come in the order they are added, and a
// line is valid JSON, and valid UTF-8, whatever bytes a text holds: every string is written
// by nlohmann/json's serializer (strict), after JsonText has made its bytes valid UTF-8.

#include <concepts>
#include <string>
#include <string_view>
#include <vector>

namespace kv58 {

// How a JSON string carries the bytes of a text.
enum class HighBytes {
  AsText,       // valid UTF-8 passes as it is (names, messages, paths); any other byte as below
  AsCodePoints, // byte n as the code point U+00nn (\u00nn): line data, whose bytes must come back
};

// What HighBytes::AsText does with bytes that are not UTF-8, in words for a program's help.
inline constexpr std::string_view kJsonTextRule =
    "In JSON, a name, path or message is written as it is when it is valid UTF-8; each byte that "
    "is not part of valid UTF-8 is written as \\u00nn, the character with the same number "
    "(byte E9 as \\u00e9), so every line is valid UTF-8 and no byte is lost.";

// `bytes` as valid UTF-8 for a JSON string. AsText: well-formed UTF-8 sequences as they are
// (no overlong forms, no surrogates, nothing past U+10FFFF), each other byte n as U+00nn.
// AsCodePoints: every byte n as U+00nn.
[[nodiscard]] std::string JsonText(std::string_view bytes, HighBytes high);

// The inside of a JSON string holding `bytes`: \" \\ and control bytes escaped; AsText keeps
// valid UTF-8 as it is and writes each other byte as \u00nn; AsCodePoints is plain ASCII, every
// byte past 7E as \u00nn.
[[nodiscard]] std::string JsonEscape(std::string_view bytes, HighBytes high);

class JsonLine {
public:
  template <std::integral Number>
  requires(!std::same_as<Number, bool>) JsonLine& Add(std::string_view key, Number number) {
    Key(key);
    text_ += std::to_string(number);
    return *this;
  }
  JsonLine& Add(std::string_view key, bool value);
  JsonLine& Add(std::string_view key, double number); // three decimals; null when not finite
  JsonLine& Add(std::string_view key, std::string_view text, HighBytes high = HighBytes::AsText);
  JsonLine& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
  JsonLine& Add(std::string_view key, const std::vector<std::string>& texts);
  template <std::integral Number> JsonLine& Add(std::string_view key, const std::vector<Number>& numbers) {
    Key(key);
    text_ += '[';
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      text_ += (i == 0 ? "" : ",") + std::to_string(numbers[i]);
    }
    text_ += ']';
    return *this;
  }
  // The object, closed, without a line end.
  [[nodiscard]] std::string Close() const { return text_ + "}"; }

private:
  void Key(std::string_view key);

  std::string text_ = "{";
};

} // namespace kv58
