#pragma once
// One display that a call serves: its name, its port and its tags, from --port or a ports file.

#include <string>
#include <string_view>
#include <vector>

#include "serial/port_name.h"

namespace kv58::cli {

struct Display {
  std::string name; // as the ports file names it, or the port's canonical spelling
  PortName port;
  std::vector<std::string> tags;
  std::string source; // where it was given, for messages: "--port" or "ports.txt, line 3"
};

// The name as a terminal may show it: control bytes escaped as \xHH, so that a name can
// neither move the cursor nor pass for another line.
[[nodiscard]] std::string PrintableName(std::string_view name);

} // namespace kv58::cli
