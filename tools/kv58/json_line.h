#pragma once
// One JSON object on one line (JSON Lines), for reports that scripts and monitoring read.
// Texts are bytes: valid UTF-8 passes as it is, control characters and any other byte are
// escaped, so a line is always valid JSON whatever a name or a message holds.

#include <string>
#include <string_view>
#include <vector>

namespace kv58::cli {

class JsonLine {
public:
  JsonLine& Add(std::string_view key, std::string_view text);
  JsonLine& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
  JsonLine& Add(std::string_view key, long long number);
  JsonLine& Add(std::string_view key, double number);
  JsonLine& Add(std::string_view key, const std::vector<std::string>& texts);
  // The object, closed, without a line end.
  [[nodiscard]] std::string Close() const { return text_ + "}"; }

private:
  void Key(std::string_view key);

  std::string text_ = "{";
};

// `text` as a JSON string, quotes included.
[[nodiscard]] std::string JsonString(std::string_view text);

} // namespace kv58::cli
