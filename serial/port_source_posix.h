#pragma once
// Port discovery's source on POSIX systems: the ports that the serial driver can open by
// name, found through the same mapping (serial/port_map.h). Each value stands for one port:
// its name is the device path, its data the COM name that opens that device.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "serial/port_map.h"
#include "serial/port_source.h"

namespace kv58 {

// Whether a ttyS node has a UART behind it. Most machines have ttyS0..31 nodes whatever the
// hardware, so a ttyS node counts as a port only when this says yes.
using UartProbe = std::function<bool(const std::filesystem::path& device)>;

// The kernel's answer: TIOCGSERIAL reports a port type other than PORT_UNKNOWN. A node that
// another program holds exclusively (EBUSY) is taken as a real port.
[[nodiscard]] bool KernelReportsUart(const std::filesystem::path& device);

class PosixPortSource : public PortSource {
public:
  // Tests with a device root of plain files pass a probe of their own.
  explicit PosixPortSource(PortLocations locations = DefaultPortLocations(),
                           UartProbe probe = KernelReportsUart);

  // Takes a snapshot: the map directory's COMn entries whose target exists, in port number
  // order, then the fixed rule's devices that exist, except those whose name a map entry
  // claims (even a dangling one, which the driver would not open past). Always true.
  bool OpenKey() override;
  std::vector<std::string> ValueNames() override;
  // Throws RegistryError for a name the snapshot does not hold or while the key is closed.
  std::string ReadString(const std::string& valueName) override;
  void CloseKey() override;

private:
  struct Port {
    std::string devicePath;
    std::string portName;
  };

  [[nodiscard]] std::vector<Port> MappedPorts(std::vector<std::int32_t>& claimed) const;
  [[nodiscard]] std::vector<Port> FixedRulePorts(const std::vector<std::int32_t>& claimed) const;

  PortLocations locations_;
  UartProbe probe_;
  bool open_ = false;
  std::vector<Port> ports_;
};

} // namespace kv58
