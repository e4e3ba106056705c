#pragma once
// The list of the machine's serial ports, as the port box offers them: every port name the
// port source holds, in ascending order of port number. A failing source leaves the names
// read before the failure; nothing is ever reported.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/port_source.h"

namespace kv58 {

// Replaces the contents of `target` with the port names of `source`, sorted by
// ComparePortNumbers. The source's key is closed on every path.
void ListSerialPorts(PortSource& source, std::vector<std::string>& target);

// Negative, 0 or positive as the number of list[first] is below, equal to or above that of
// list[second]. The number of a name is its text from the 4th character on, at most 16
// characters, read by ToIntOrDefault with 0. A position outside the list throws
// ListIndexError.
[[nodiscard]] std::int32_t ComparePortNumbers(const std::vector<std::string>& list, std::size_t first,
                                              std::size_t second);

// The serial device map of the platform: the registry on Windows, the port map and the
// device nodes elsewhere. A new reader on every call, as each listing starts afresh.
[[nodiscard]] std::unique_ptr<PortSource> SystemPortSource();

} // namespace kv58
