#include "serial/tls_kept.h"

#include <filesystem>
#include <system_error>

namespace kv58 {
namespace {

// When `file` was last changed, as text; empty for no file (or one that cannot be read: what
// is made from it then says why).
std::string ChangedAt(const std::string& file) {
  std::error_code error;
  const auto time =
      file.empty() ? std::filesystem::file_time_type() : std::filesystem::last_write_time(file, error);
  return std::to_string(time.time_since_epoch().count());
}

} // namespace

std::string FilesKey(std::initializer_list<std::string> files) {
  std::string key;
  for (const std::string& file : files) {
    key += file + '\0' + ChangedAt(file) + '\0';
  }
  return key;
}

std::string HexOf(const unsigned char* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

} // namespace kv58
