#pragma once
// The same display given twice would get two texts run into each other: a fleet refuses it
// before anything opens. One display however it is named: a COM port by its number, a device
// server by its host in any case and either mode, and two host names that reach one address
// and port.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tools/kv58/display.h"

namespace kv58::cli {

// How long the names of a fleet may take to resolve, all together; a name not resolved by
// then is told apart by its spelling alone (its connection would fail in any case).
inline constexpr std::chrono::seconds kSameDisplayLookUpBound{3};

// The first display given twice, in words; none when each is given once. Host names are
// looked up only when `lookUp` (not in a dry run, which reaches nothing).
[[nodiscard]] std::optional<std::string> SameDisplayTwice(const std::vector<Display>& displays, bool lookUp);

} // namespace kv58::cli
