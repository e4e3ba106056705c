#pragma once
// kv58 ports: the port names in the window's order, each with the device it stands for.

#include <string>
#include <vector>

#include "serial/port_source.h"

namespace kv58::cli {

struct ListedPort {
  std::string name;   // COM7
  std::string device; // what it stands for; empty when unknown
};
// The ports with their devices (a link in the port map is followed to its target). On Windows
// the device is the registry's name for it, e.g. \Device\Serial0.
[[nodiscard]] std::vector<ListedPort> ListedPorts(PortSource& source);

// "COM7  /dev/pts/3": the name, then the device.
[[nodiscard]] std::vector<std::string> PortLines(PortSource& source);

} // namespace kv58::cli
