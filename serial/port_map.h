#pragma once
// Where a port named "COM" plus a number lives on a POSIX system. The serial driver opens
// through this mapping and port discovery lists through it, so a listed name always opens
// the device it was listed for.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kv58 {

struct PortLocations {
  // Entries named COMn here (normally symlinks to devices) claim the name COMn.
  // An empty path means there is no map.
  std::filesystem::path mapDirectory;
  // Where the fixed rule finds ttyS*, ttyUSB*, ttyACM* and ttyAMA*.
  std::filesystem::path deviceRoot;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/kv58/ports, from the two variables' values (null when
// unset). As the XDG rules say, an empty or relative XDG_CONFIG_HOME counts as unset; a home
// that is not an absolute path is none. The controller and the simulator both look here.
[[nodiscard]] std::optional<std::filesystem::path> PortMapDirectory(const char* xdgConfigHome,
                                                                    const char* home);
[[nodiscard]] std::optional<std::filesystem::path> PortMapDirectoryFromEnvironment();

// The map directory from the environment, and /dev. Without a usable directory there is no map.
[[nodiscard]] PortLocations DefaultPortLocations();

// n of a name spelled exactly as the channel builds it: "COM", then a positive decimal
// number without sign or leading zeros that fits in 32 bits. Anything else: nullopt.
[[nodiscard]] std::optional<std::int32_t> PortNumberOfName(std::string_view portName);

// "COM" followed by the number in decimal, as the channel builds it.
[[nodiscard]] std::string PortNameOfNumber(std::int32_t number);

// The fixed rule: COM1..32 are ttyS0..31, COM33..64 ttyUSB0..31, COM65..96 ttyACM0..31,
// COM97..128 ttyAMA0..31, under the device root. Other numbers: nullopt.
inline constexpr std::int32_t kFixedRulePortCount = 128;
[[nodiscard]] std::optional<std::filesystem::path> FixedRuleDevice(std::int32_t portNumber,
                                                                   const std::filesystem::path& deviceRoot);
// Whether the fixed rule's device for this port is a plain UART node (ttyS), which exists
// on most machines whether or not a UART is behind it.
[[nodiscard]] bool IsFixedRuleUart(std::int32_t portNumber);

// The map entry named COMn, if the map has one. A present entry claims the name even when
// its target is gone: the port then does not open, rather than opening whatever the fixed
// rule would pick (on most machines ttyS0 is the console).
[[nodiscard]] std::optional<std::filesystem::path> MapEntryForPort(std::string_view portName,
                                                                   const PortLocations& locations);

// The device to open for a port name: the map entry, else the fixed rule; nullopt when the
// name names no device.
[[nodiscard]] std::optional<std::filesystem::path> DevicePathForPort(std::string_view portName,
                                                                     const PortLocations& locations);

} // namespace kv58
