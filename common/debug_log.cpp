#include "common/debug_log.h"

namespace kv58 {

void DebugLog::Log(std::string_view line) { lines_.emplace_back(line); }

void DebugLog::Clear() { lines_.clear(); }

} // namespace kv58
