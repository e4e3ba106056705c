#pragma once
// One JSON object on one line (JSON Lines), for what the tools print for scripts to read:
// kv58's reports and the simulator's events. Keys come in the order they are added, and a
// line is valid JSON whatever bytes a text holds.

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

// The inside of a JSON string holding `bytes`: \" \\ \n \r \t, other control bytes as \u00nn.
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
  JsonLine& Add(std::string_view key, double number); // three decimals
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
