#pragma once
// Port discovery on Windows: the registry's serial device map, read only. Each value of
// HKEY_LOCAL_MACHINE\Hardware\DeviceMap\SerialComm stands for one port; its name is the
// driver's device name, its data the port name ("COM3").

#include <string>
#include <string_view>
#include <vector>

#include "serial/port_source.h"

namespace kv58 {

inline constexpr std::string_view kSerialDeviceMapKey = "Hardware\\DeviceMap\\SerialComm";

// The hive a reader is rooted at. Tests root theirs at the current user's hive, where they
// may make keys of their own.
enum class RegistryHive { LocalMachine, CurrentUser };

class Win32RegistryPortSource : public PortSource {
public:
  explicit Win32RegistryPortSource(RegistryHive hive = RegistryHive::LocalMachine,
                                   std::string keyPath = std::string(kSerialDeviceMapKey));
  ~Win32RegistryPortSource() override;
  Win32RegistryPortSource(const Win32RegistryPortSource&) = delete;
  Win32RegistryPortSource& operator=(const Win32RegistryPortSource&) = delete;

  // Opens the key for reading; never creates it. A key held before is closed first.
  [[nodiscard]] bool OpenKey() override;
  // Empty while the key is not open. Throws RegistryError when the names cannot be read.
  [[nodiscard]] std::vector<std::string> ValueNames() override;
  // REG_SZ and REG_EXPAND_SZ data as stored (not expanded), up to the first NUL. A value
  // whose size cannot be learned, or that holds no data, is the empty text. Any other
  // type, or a key that is not open, throws RegistryError.
  [[nodiscard]] std::string ReadString(const std::string& valueName) override;
  void CloseKey() override;

  [[nodiscard]] bool IsKeyOpen() const { return key_ != nullptr; }

private:
  RegistryHive hive_;
  std::string keyPath_;
  void* key_ = nullptr; // the open HKEY; <windows.h> stays out of this header
};

} // namespace kv58
