#include "tools/kv58/serve/local_time.h"

namespace kv58::serve {

std::optional<std::tm> LocalTime(std::time_t time) {
  std::tm local{};
  if (localtime_s(&local, &time) != 0) {
    return std::nullopt;
  }
  return local;
}

std::optional<std::time_t> TimeOfLocal(std::tm local) {
  const __time64_t time = _mktime64(&local);
  if (time == -1) {
    return std::nullopt;
  }
  return static_cast<std::time_t>(time);
}

} // namespace kv58::serve
