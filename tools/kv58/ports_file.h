#pragma once
// The displays of a ports file, one a line: an optional name, the port, then tags for --only
// ("hall-1 rfc2217://10.0.0.5:4001 hall ground-floor"), blanks between; '#' begins a comment.
// Ports files are often made from inventories, so the file is read as untrusted text: a regular
// file of bounded size and line length, nothing else.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kv58/display.h"

namespace kv58::cli {

inline constexpr std::size_t kMaxPortsFileBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxPortsFileLineBytes = 4096;

struct PortsFile {
  std::vector<Display> displays;
  std::optional<std::string> error; // the first fault, with its line number
};
[[nodiscard]] PortsFile ReadPortsFile(const std::string& path);

// A file of lines made elsewhere (ports files, schedules), read whole: a regular file of at
// most `maxBytes`, or nothing with `error` naming the file and why, `kind` ("a ports file")
// saying what it should have been.
[[nodiscard]] std::optional<std::string> ReadListFile(const std::string& path, const std::string& kind,
                                                      std::size_t maxBytes, std::string& error);

// The words of a line, between blanks: how ports files and schedules read theirs.
[[nodiscard]] std::vector<std::string> Words(std::string_view line);

} // namespace kv58::cli
