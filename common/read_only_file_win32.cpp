#include "common/read_only_file.h"

#include <algorithm>
#include <windows.h>

namespace kv58 {
namespace {

[[nodiscard]] HANDLE Win32Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

} // namespace

ReadOnlyFile::ReadOnlyFile(const std::filesystem::path& path) {
  // Share mode read-only: nobody may write the file while it is being loaded. Directories do
  // not open without FILE_FLAG_BACKUP_SEMANTICS, so they fail here.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    handle_ = reinterpret_cast<std::intptr_t>(handle);
  }
}

ReadOnlyFile::~ReadOnlyFile() {
  if (IsOpen()) {
    (void)::CloseHandle(Win32Handle(handle_));
  }
}

std::optional<std::uint64_t> ReadOnlyFile::RegularFileSize() const {
  // A name such as "COM1" or "NUL" opens a device, which has no size to speak of.
  if (!IsOpen() || ::GetFileType(Win32Handle(handle_)) != FILE_TYPE_DISK) {
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(Win32Handle(handle_), &size) || size.QuadPart < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool ReadOnlyFile::ReadAtMost(std::size_t limit, std::string& bytes) {
  bytes.assign(limit, '\0');
  std::size_t filled = 0;
  while (IsOpen() && filled < limit) {
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(limit - filled, MAXDWORD));
    DWORD got = 0;
    if (!::ReadFile(Win32Handle(handle_), bytes.data() + filled, wanted, &got, nullptr)) {
      bytes.clear();
      return false;
    }
    if (got == 0) {
      break;
    }
    filled += got;
  }
  bytes.resize(filled);
  return IsOpen();
}

} // namespace kv58
