#include "tools/kv58_sim/push_file.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/read_only_file.h"

namespace kv58::sim {
namespace {

std::string WhyNotOpened(const std::filesystem::path& path) {
  std::error_code code;
  const auto status = std::filesystem::status(path, code);
  if (code) {
    return "cannot open " + path.string() + ": " + code.message();
  }
  if (!std::filesystem::is_regular_file(status)) {
    return path.string() + " is not a regular file; --send-file takes only regular files";
  }
  return "cannot open " + path.string() + ": " + std::strerror(errno);
}

} // namespace

bool LoadPushFile(const std::filesystem::path& path, std::string& into, std::string& error) {
  ReadOnlyFile file(path);
  const auto size = file.RegularFileSize();
  if (!size) {
    error = WhyNotOpened(path);
    return false;
  }
  if (*size > kMostPushFileBytes) {
    error = path.string() + " has " + std::to_string(*size) + " bytes; --send-file takes at most " +
            std::to_string(kMostPushFileBytes);
    return false;
  }
  // One byte past the cap tells a file that grew since its size was taken.
  std::string bytes;
  if (!file.ReadAtMost(kMostPushFileBytes + 1, bytes)) {
    error = "cannot read " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  if (bytes.size() > kMostPushFileBytes) {
    error = path.string() + " grew past " + std::to_string(kMostPushFileBytes) + " bytes while being read";
    return false;
  }
  into += bytes;
  return true;
}

} // namespace kv58::sim
