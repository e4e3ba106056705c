#pragma once
// The displays of a ports file, one a line: an optional name, the port, then tags for --only
// ("hall-1 rfc2217://10.0.0.5:4001 hall ground-floor"), blanks between; '#' begins a comment.
// Ports files are often made from inventories, so the file is read as untrusted text: a regular
// file of bounded size and line length, nothing else.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "serial/port_name.h"

namespace kv58::cli {

struct Display {
  std::string name; // as the ports file names it, or the port's canonical spelling
  PortName port;
  std::vector<std::string> tags;
  std::string source; // where it was given, for messages: "--port" or "ports.txt, line 3"
};

inline constexpr std::size_t kMaxPortsFileBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxPortsFileLineBytes = 4096;

struct PortsFile {
  std::vector<Display> displays;
  std::optional<std::string> error; // the first fault, with its line number
};
[[nodiscard]] PortsFile ReadPortsFile(const std::string& path);

// The name as a terminal may show it: control bytes escaped as \xHH, so that a name can
// neither move the cursor nor pass for another line.
[[nodiscard]] std::string PrintableName(std::string_view name);

} // namespace kv58::cli
