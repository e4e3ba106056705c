#pragma once
// A port source for tests: values scripted in enumeration order, each either text or data
// of another type (whose ReadString throws RegistryError, as the registry reader does), a
// switch for a missing key, and a record of how the key was used.

#include <optional>
#include <string>
#include <vector>

#include "serial/port_source.h"

namespace kv58::testing {

class FakePortSource : public PortSource {
public:
  struct Value {
    std::string name;
    std::optional<std::string> text; // nullopt: the data is not text (a number, say)
  };

  // --- script ---
  bool keyMissing = false;
  std::vector<Value> values;

  void AddText(std::string name, std::string text);
  void AddNonText(std::string name);

  // --- record ---
  int openCount = 0;
  int closeCount = 0;
  std::vector<std::string> readNames; // every ReadString, in order
  [[nodiscard]] bool KeyOpen() const { return open_; }

  bool OpenKey() override;
  std::vector<std::string> ValueNames() override;
  std::string ReadString(const std::string& valueName) override;
  void CloseKey() override;

private:
  bool open_ = false;
};

} // namespace kv58::testing
