#pragma once
// Lets GoogleTest show a SimEvent as its JSON line instead of a dump of raw bytes.

#include <ostream>

#include "tools/kv58_sim/event_format.h"
#include "tools/kv58_sim/sim_event.h"

namespace kv58::sim {

inline void PrintTo(const SimEvent& event, std::ostream* out) {
  *out << FormatEvent(event, OutputFormat::Json);
}

} // namespace kv58::sim
