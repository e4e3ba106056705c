#include "tools/kv58/port_listing.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "serial/port_discovery.h"

namespace kv58::cli {
namespace {

constexpr std::size_t kNameColumn = 8;

// The source's value names are the devices and its data the port names; one that cannot be
// read is left out, as the listing leaves it out.
std::map<std::string, std::string> DevicesByPortName(PortSource& source) {
  std::map<std::string, std::string> devices;
  if (!source.OpenKey()) {
    return devices;
  }
  try {
    for (const std::string& device : source.ValueNames()) {
      try {
        devices.emplace(source.ReadString(device), device);
      } catch (const RegistryError&) {
        continue;
      }
    }
  } catch (const RegistryError&) {
    // what was read stays
  }
  source.CloseKey();
  return devices;
}

std::string ShownDevice(const std::string& device) {
  std::error_code error;
  if (std::filesystem::is_symlink(device, error)) {
    const auto target = std::filesystem::canonical(device, error);
    if (!error) {
      return target.string();
    }
  }
  return device;
}

} // namespace

std::vector<ListedPort> ListedPorts(PortSource& source) {
  std::vector<std::string> names;
  ListSerialPorts(source, names);
  const auto devices = DevicesByPortName(source);
  std::vector<ListedPort> ports;
  for (const std::string& name : names) {
    const auto found = devices.find(name);
    ports.push_back(ListedPort{name, found == devices.end() ? std::string() : ShownDevice(found->second)});
  }
  return ports;
}

std::vector<std::string> PortLines(PortSource& source) {
  std::vector<std::string> lines;
  for (const ListedPort& port : ListedPorts(source)) {
    std::string line = port.name;
    if (!port.device.empty()) {
      line += std::string(kNameColumn > port.name.size() ? kNameColumn - port.name.size() : 1, ' ');
      line += port.device;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

} // namespace kv58::cli
