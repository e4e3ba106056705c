#pragma once
// The debug log: lines that the connect workflow and the device commands append and that
// only a successful connect empties. The program reads it back only to show it on request
// (the window's log view, which follows every change); tests read it too.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv58 {

class DebugLog {
public:
  // A new log holds one empty line, as an empty multi-line text box does.
  DebugLog() = default;

  // Called after every Log and Clear; one listener at a time, none by default.
  using Listener = std::function<void()>;

  void Log(std::string_view line);
  void Clear();
  [[nodiscard]] const std::vector<std::string>& Lines() const { return lines_; }
  void SetListener(Listener listener) { listener_ = std::move(listener); }

private:
  void Changed() const;

  std::vector<std::string> lines_{std::string()};
  Listener listener_;
};

} // namespace kv58
