#include "common/read_only_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv58 {
namespace {

[[nodiscard]] int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

} // namespace

ReadOnlyFile::ReadOnlyFile(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return;
  }
  // O_NONBLOCK: should the name have been swapped for a FIFO since the check, opening it must
  // not wait for a writer; RegularFileSize then refuses it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    handle_ = fd;
  }
}

ReadOnlyFile::~ReadOnlyFile() {
  if (IsOpen()) {
    (void)::close(Descriptor(handle_));
  }
}

std::optional<std::uint64_t> ReadOnlyFile::RegularFileSize() const {
  struct stat info {};
  if (!IsOpen() || ::fstat(Descriptor(handle_), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

bool ReadOnlyFile::ReadAtMost(std::size_t limit, std::string& bytes) {
  bytes.assign(limit, '\0');
  std::size_t filled = 0;
  while (IsOpen() && filled < limit) {
    const ssize_t got = ::read(Descriptor(handle_), bytes.data() + filled, limit - filled);
    if (got == 0) {
      break;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      bytes.clear();
      return false;
    }
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return IsOpen();
}

} // namespace kv58
