#include "tools/kv58/serve/local_time.h"

namespace kv58::serve {

std::optional<std::tm> LocalTime(std::time_t time) {
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) {
    return std::nullopt;
  }
  return local;
}

std::optional<std::time_t> TimeOfLocal(std::tm local) {
  const std::time_t time = mktime(&local);
  if (time == static_cast<std::time_t>(-1)) {
    return std::nullopt;
  }
  return time;
}

} // namespace kv58::serve
