#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "tools/kv58/serve/service/token_file.h"

namespace kv58::serve::detail {
namespace {

std::string SystemError(int error) { return std::strerror(error); }

std::optional<std::filesystem::path> AbsoluteFolder(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->front() != '/') {
    return std::nullopt;
  }
  return std::filesystem::path(*value);
}

bool WriteAll(int fd, const std::string& contents) {
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
  return true;
}

// A name beside `path` for the file while it is written.
std::filesystem::path DraftName(const std::filesystem::path& path) {
  std::random_device random;
  std::array<char, 16> suffix{};
  (void)std::snprintf(suffix.data(), suffix.size(), ".%08x", static_cast<unsigned>(random()));
  return path.parent_path() / ("." + path.filename().string() + suffix.data());
}

} // namespace

bool SystemRandomBytes(std::span<unsigned char> bytes, std::string& error) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t count = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      error = SystemError(errno);
      return false;
    }
    filled += static_cast<std::size_t>(count);
  }
  return true;
}

std::optional<std::filesystem::path> PlatformConfigurationFolder(const Environment& environment) {
  if (const auto state = environment("STATE_DIRECTORY")) {
    if (auto folder = AbsoluteFolder(state->substr(0, state->find(':')))) {
      return folder;
    }
  }
  if (auto config = AbsoluteFolder(environment("XDG_CONFIG_HOME"))) {
    return *config / "kv58";
  }
  if (auto home = AbsoluteFolder(environment("HOME"))) {
    return *home / ".config" / "kv58";
  }
  return std::nullopt;
}

bool MakeOwnFolder(const std::filesystem::path& folder, std::string& error) {
  std::error_code status;
  if (std::filesystem::is_directory(folder, status)) {
    return true;
  }
  if (folder.has_parent_path() && folder.parent_path() != folder &&
      !MakeOwnFolder(folder.parent_path(), error)) {
    return false;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = SystemError(errno);
    return false;
  }
  if (!std::filesystem::is_directory(folder, status)) {
    error = "not a folder";
    return false;
  }
  return true;
}

Publish PublishOwnFile(const std::filesystem::path& path, const std::string& contents, std::string& error) {
  const auto draft = DraftName(path);
  const int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = SystemError(errno);
    return Publish::Failed;
  }
  // The umask cannot add bits to 0600; fchmod says so outright for a file system that would.
  const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
  const int writeError = errno;
  if (::close(fd) != 0 || !written) {
    error = SystemError(written ? errno : writeError);
    (void)::unlink(draft.c_str());
    return Publish::Failed;
  }
  // link() fails when `path` exists, where rename() would replace it.
  const int linked = ::link(draft.c_str(), path.c_str());
  const int linkError = errno;
  (void)::unlink(draft.c_str());
  if (linked == 0) {
    return Publish::Made;
  }
  if (linkError == EEXIST) {
    return Publish::Exists;
  }
  error = SystemError(linkError);
  return Publish::Failed;
}

bool ReadOwnFile(const std::filesystem::path& path, std::size_t limit, std::string& contents,
                 std::string& error, std::string& warning) {
  // O_NONBLOCK: a FIFO put in its place is refused below instead of blocking the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError(errno);
    return false;
  }
  struct stat info {};
  bool ok = false;
  if (::fstat(fd, &info) != 0) {
    error = SystemError(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = "not a regular file";
  } else if (static_cast<unsigned long long>(info.st_size) > limit) {
    error = "larger than " + std::to_string(limit) + " bytes";
  } else if ((info.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    std::array<char, 8> mode{};
    (void)std::snprintf(mode.data(), mode.size(), "%04o", static_cast<unsigned>(info.st_mode & 07777U));
    error = "other users may read or write it (mode " + std::string(mode.data()) + "); chmod 600 " +
            path.string();
  } else {
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != 0) {
      warning = "the token file " + path.string() +
                " may be read or written by its group; chmod 600 keeps it yours";
    }
    std::string buffer(limit + 1, '\0');
    std::size_t filled = 0;
    ok = true;
    while (filled < buffer.size()) {
      const ssize_t count = ::read(fd, buffer.data() + filled, buffer.size() - filled);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count < 0) {
        error = SystemError(errno);
        ok = false;
        break;
      }
      if (count == 0) {
        break;
      }
      filled += static_cast<std::size_t>(count);
    }
    if (ok && filled > limit) { // grew after fstat
      error = "larger than " + std::to_string(limit) + " bytes";
      ok = false;
    }
    buffer.resize(filled);
    contents = std::move(buffer);
  }
  (void)::close(fd);
  return ok;
}

} // namespace kv58::serve::detail
