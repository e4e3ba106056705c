#pragma once
// Where port discovery learns the machine's serial ports: the registry's serial device map
// on Windows, the port map directory and the device nodes on POSIX, a script in tests.
// Shaped like the registry key it stands for: open, list value names, read each value.

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
