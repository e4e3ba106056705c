#pragma once
// Loading the file the user picked for upload. The size is learned from the file system
// before anything is read, so a huge file or a device node is refused without being read,
// and at most one byte past the device's limit is ever read, even from a file that grows.

#include <cstdint>
#include <filesystem>
#include <string>

namespace kv58 {

struct UploadFile {
  enum class Status {
    Loaded,     // `bytes` holds the whole file, raw; an empty file is Loaded with size 0
    TooLong,    // more than kMaxTextBytes; `bytes` stays empty
    Unreadable, // missing, not a regular file (directory, device, pipe), or failed to open or read
  };
  Status status = Status::Unreadable;
  // The file's size in bytes: that of `bytes` when Loaded, the size on disk when TooLong, and
  // whatever was learned before the failure (0 when nothing was) when Unreadable.
  std::uint64_t size = 0;
  std::string bytes;
};

// Only regular files are taken: anything else could block on open or never end, and is not a
// text the device can show. Opened read-only; on Windows others may not write it meanwhile.
[[nodiscard]] UploadFile LoadUploadFile(const std::filesystem::path& path);

} // namespace kv58
