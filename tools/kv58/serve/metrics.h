#pragma once
// The service's state in Prometheus' text format (GET /metrics): the jobs each display has
// ended, by status; when its last job succeeded; whether its last job did; whether it is busy.

#include <string>
#include <vector>

#include "tools/kv58/serve/dispatcher.h"

namespace kv58::serve {

[[nodiscard]] std::string MetricsText(const std::vector<DisplayView>& displays);

} // namespace kv58::serve
