#pragma once
// The system's own words for a Win32 or Winsock error code.

#include <cstdint>
#include <string>

namespace kv58 {

// The message for `error`, without the line break and full stop it ends with.
[[nodiscard]] std::string SystemMessage(std::uint32_t error);

} // namespace kv58
