#pragma once
// A file opened for reading only, whose kind and size are learned from the open handle, so
// that what was checked is what gets read. The one way this program opens a file it reads
// (the language file, the file to upload, the simulator's file to push): a FIFO, a device or
// a socket is refused without being opened, so nothing blocks on it or acts on the open.
// One implementation per platform.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kv58 {

class ReadOnlyFile {
public:
  // Opens nothing that is not a regular file by name: device nodes may act on being opened.
  explicit ReadOnlyFile(const std::filesystem::path& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  [[nodiscard]] bool IsOpen() const { return handle_ != kNoHandle; }
  // The size of an open regular file; nothing for anything else or when it cannot be learned.
  [[nodiscard]] std::optional<std::uint64_t> RegularFileSize() const;
  // Reads from the current position until the end of the file or `limit` bytes, whichever
  // comes first, into `bytes` (replacing its contents). False on a read error.
  [[nodiscard]] bool ReadAtMost(std::size_t limit, std::string& bytes);

private:
  // A POSIX descriptor or a Win32 HANDLE; -1 is invalid on both.
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};

} // namespace kv58
