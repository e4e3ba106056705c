#include "serial/port_map.h"

#include <array>
#include <cstdlib>
#include <system_error>

#include "serial/port_name.h"

namespace kv58 {
namespace {

constexpr std::string_view kPrefix = "COM";
constexpr std::int32_t kPortsPerFamily = 32;
constexpr std::array<std::string_view, 4> kDeviceFamilies = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"};

bool IsAbsolute(const char* value) { return value != nullptr && value[0] == '/'; }

// The map's entry for a name already known to be a port name.
std::optional<std::filesystem::path> MapEntry(std::string_view portName, const PortLocations& locations) {
  if (locations.mapDirectory.empty()) {
    return std::nullopt;
  }
  auto entry = locations.mapDirectory / portName;
  std::error_code error;
  // symlink_status: the entry itself, whether or not its target is still there.
  if (!std::filesystem::exists(std::filesystem::symlink_status(entry, error))) {
    return std::nullopt;
  }
  return entry;
}

} // namespace

std::optional<std::filesystem::path> PortMapDirectory(const char* xdgConfigHome, const char* home) {
  std::filesystem::path base;
  if (IsAbsolute(xdgConfigHome)) {
    base = xdgConfigHome;
  } else if (IsAbsolute(home)) {
    base = std::filesystem::path(home) / ".config";
  } else {
    return std::nullopt;
  }
  return base / "kv58" / "ports";
}

std::optional<std::filesystem::path> PortMapDirectoryFromEnvironment() {
  return PortMapDirectory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

PortLocations DefaultPortLocations() {
  return PortLocations{PortMapDirectoryFromEnvironment().value_or(std::filesystem::path{}), "/dev"};
}

std::optional<std::int32_t> PortNumberOfName(std::string_view portName) {
  // Only the spelling the program writes names a device or a map entry: COM5, not COM05.
  const auto name = ParsePortName(portName, PortNameRule::Strict);
  if (!name || name->IsNetwork() || name->Canonical() != portName) {
    return std::nullopt;
  }
  return name->ComNumber();
}

std::string PortNameOfNumber(std::int32_t number) { return std::string(kPrefix) + std::to_string(number); }

std::optional<std::filesystem::path> FixedRuleDevice(std::int32_t portNumber,
                                                     const std::filesystem::path& deviceRoot) {
  if (portNumber < 1 || portNumber > kFixedRulePortCount) {
    return std::nullopt;
  }
  const auto index = portNumber - 1;
  const auto family = kDeviceFamilies[static_cast<std::size_t>(index / kPortsPerFamily)];
  return deviceRoot / (std::string(family) + std::to_string(index % kPortsPerFamily));
}

bool IsFixedRuleUart(std::int32_t portNumber) { return portNumber >= 1 && portNumber <= kPortsPerFamily; }

std::optional<std::filesystem::path> MapEntryForPort(std::string_view portName,
                                                     const PortLocations& locations) {
  return PortNumberOfName(portName) ? MapEntry(portName, locations) : std::nullopt;
}

std::optional<std::filesystem::path> DevicePathForPort(std::string_view portName,
                                                       const PortLocations& locations) {
  const auto number = PortNumberOfName(portName);
  if (!number) {
    return std::nullopt;
  }
  if (auto entry = MapEntry(portName, locations)) {
    return entry;
  }
  return FixedRuleDevice(*number, locations.deviceRoot);
}

} // namespace kv58
