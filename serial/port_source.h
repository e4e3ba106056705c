#pragma once
// Where port discovery learns the machine's serial ports: the registry's serial device map
// on Windows, the port map directory and the device nodes on POSIX, a script in tests.
// Shaped like the registry key it stands for: open, list value names, read each value.
// Every source follows the registry's rules: while the key is closed (before OpenKey, after
// CloseKey) it lists no values and reading one raises RegistryError; a name the open key does
// not hold reads as empty text.

#include <stdexcept>
#include <string>
#include <vector>

namespace kv58 {

// A value that cannot be read as text, or any other failure while reading the key.
class RegistryError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class PortSource {
public:
  virtual ~PortSource() = default;

  // Opens the serial device map for reading only; false when it does not exist.
  [[nodiscard]] virtual bool OpenKey() = 0;
  // The value names, in enumeration order.
  [[nodiscard]] virtual std::vector<std::string> ValueNames() = 0;
  // The value's data as text: the port name. Throws RegistryError for data that is not text.
  [[nodiscard]] virtual std::string ReadString(const std::string& valueName) = 0;
  // Closes the key if it is open; safe to call more than once.
  virtual void CloseKey() = 0;

protected:
  PortSource() = default;
  PortSource(const PortSource&) = default;
  PortSource& operator=(const PortSource&) = default;
};

} // namespace kv58
