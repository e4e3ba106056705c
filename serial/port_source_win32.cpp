#include "serial/port_source_win32.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "serial/port_discovery.h"

// After our own headers, as in the serial driver.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kv58 {
namespace {

// The registry's own limit on the length of a value name, without the terminating NUL.
constexpr DWORD kLongestValueName = 16383;
// A value that keeps growing between measuring and reading is given up after this many tries.
constexpr int kReadAttempts = 3;

HKEY RootOf(RegistryHive hive) {
  return hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

std::string UpToFirstNul(std::string data) {
  data.erase(std::find(data.begin(), data.end(), '\0'), data.end());
  return data;
}

} // namespace

Win32RegistryPortSource::Win32RegistryPortSource(RegistryHive hive, std::string keyPath)
    : hive_(hive), keyPath_(std::move(keyPath)) {}

Win32RegistryPortSource::~Win32RegistryPortSource() { CloseKey(); }

bool Win32RegistryPortSource::OpenKey() {
  CloseKey();
  HKEY key = nullptr;
  if (::RegOpenKeyExA(RootOf(hive_), keyPath_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  key_ = key;
  return true;
}

std::vector<std::string> Win32RegistryPortSource::ValueNames() {
  std::vector<std::string> names;
  if (!IsKeyOpen()) {
    return names;
  }
  const auto key = static_cast<HKEY>(key_);
  DWORD valueCount = 0;
  DWORD longestName = 0;
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, &longestName,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    throw RegistryError("The serial device map cannot be measured");
  }
  names.reserve(valueCount);
  std::string buffer(std::min(longestName, kLongestValueName) + 1, '\0');
  // Enumerated until the registry says there is no more, so a value added meanwhile is not
  // cut off; a name longer than measured gets the largest buffer and another try.
  for (DWORD index = 0;;) {
    auto length = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
        ::RegEnumValueA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (status == ERROR_MORE_DATA && buffer.size() <= kLongestValueName) {
      buffer.resize(kLongestValueName + 1);
      continue;
    }
    if (status != ERROR_SUCCESS) {
      throw RegistryError("The serial device map's value names cannot be read");
    }
    names.emplace_back(buffer.data(), length);
    ++index;
  }
  return names;
}

std::string Win32RegistryPortSource::ReadString(const std::string& valueName) {
  if (!IsKeyOpen()) {
    throw RegistryError("The serial device map is not open");
  }
  const auto key = static_cast<HKEY>(key_);
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      size == 0) {
    return {};
  }
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    std::string data(size, '\0');
    const LSTATUS status = ::RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_MORE_DATA) {
      continue; // grew since it was measured; size holds the new length
    }
    if (status != ERROR_SUCCESS) {
      throw RegistryError("The value '" + valueName + "' of the serial device map cannot be read");
    }
    if (!IsText(type)) {
      throw RegistryError("The value '" + valueName + "' of the serial device map is not text");
    }
    data.resize(std::min<std::size_t>(data.size(), size));
    return UpToFirstNul(std::move(data));
  }
  throw RegistryError("The value '" + valueName + "' of the serial device map cannot be read");
}

void Win32RegistryPortSource::CloseKey() {
  if (IsKeyOpen()) {
    ::RegCloseKey(static_cast<HKEY>(key_));
    key_ = nullptr;
  }
}

std::unique_ptr<PortSource> SystemPortSource() { return std::make_unique<Win32RegistryPortSource>(); }

} // namespace kv58
