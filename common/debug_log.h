#pragma once
// The debug log: lines that the connect workflow and the device commands append and that
// only a successful connect empties. Nothing in the program reads it back; tests do.

#include <string>
#include <string_view>
#include <vector>

namespace kv58 {

class DebugLog {
public:
  // A new log holds one empty line, as an empty multi-line text box does.
  DebugLog() = default;

  void Log(std::string_view line);
  void Clear();
  [[nodiscard]] const std::vector<std::string>& Lines() const { return lines_; }

private:
  std::vector<std::string> lines_{std::string()};
};

} // namespace kv58
