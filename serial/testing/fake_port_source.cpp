#include "serial/testing/fake_port_source.h"

#include <algorithm>
#include <utility>

namespace kv58::testing {

void FakePortSource::AddText(std::string name, std::string text) {
  values.push_back({std::move(name), std::move(text)});
}

void FakePortSource::AddNonText(std::string name) { values.push_back({std::move(name), std::nullopt}); }

bool FakePortSource::OpenKey() {
  ++openCount;
  open_ = !keyMissing;
  return open_;
}

std::vector<std::string> FakePortSource::ValueNames() {
  std::vector<std::string> names;
  if (!open_) {
    return names;
  }
  names.reserve(values.size());
  for (const auto& value : values) {
    names.push_back(value.name);
  }
  return names;
}

std::string FakePortSource::ReadString(const std::string& valueName) {
  readNames.push_back(valueName);
  const auto found = std::find_if(values.begin(), values.end(),
                                  [&valueName](const Value& value) { return value.name == valueName; });
  if (!open_) {
    throw RegistryError("The serial device map is not open");
  }
  if (found == values.end()) {
    return {};
  }
  if (!found->text) {
    throw RegistryError("Invalid registry data type");
  }
  return *found->text;
}

void FakePortSource::CloseKey() {
  ++closeCount;
  open_ = false;
}

} // namespace kv58::testing
