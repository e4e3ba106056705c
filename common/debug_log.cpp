#include "common/debug_log.h"

namespace kv58 {

void DebugLog::Log(std::string_view line) {
  lines_.emplace_back(line);
  Changed();
}

void DebugLog::Clear() {
  lines_.clear();
  Changed();
}

void DebugLog::Changed() const {
  if (listener_) {
    listener_();
  }
}

} // namespace kv58
