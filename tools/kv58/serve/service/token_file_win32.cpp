#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "serial/system_message_win32.h"
#include "tools/kv58/serve/service/own_file_security_win32.h"
#include "tools/kv58/serve/service/program_data_win32.h"
#include "tools/kv58/serve/service/token_file.h"

namespace kv58::serve::detail {
namespace {

std::string LastError() { return SystemMessage(GetLastError()); }

std::optional<std::filesystem::path> AbsoluteFolder(const std::optional<std::string>& value) {
  if (!value || value->empty()) {
    return std::nullopt;
  }
  std::filesystem::path folder(*value);
  if (!folder.is_absolute()) {
    return std::nullopt;
  }
  return folder;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { (void)CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

UniqueHandle Own(HANDLE handle) { return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle); }

std::filesystem::path DraftName(const std::filesystem::path& path) {
  std::random_device random;
  return path.parent_path() / (path.filename().wstring() + L"." + std::to_wstring(random()) + L".new");
}

} // namespace

bool SystemRandomBytes(std::span<unsigned char> bytes, std::string& error) {
  const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) {
    error = "BCryptGenRandom failed (status " + std::to_string(static_cast<unsigned long>(status)) + ")";
    return false;
  }
  return true;
}

std::optional<std::filesystem::path> PlatformConfigurationFolder(const Environment& environment) {
  if (RunsAsLocalSystem()) {
    return ProgramDataFolder();
  }
  auto base = AbsoluteFolder(environment("APPDATA"));
  if (!base) {
    return std::nullopt;
  }
  return *base / "kv58";
}

bool MakeOwnFolder(const std::filesystem::path& folder, std::string& error) {
  std::error_code status;
  (void)std::filesystem::create_directories(folder, status);
  if (!std::filesystem::is_directory(folder)) {
    error = status ? status.message() : "not a folder";
    return false;
  }
  return true;
}

Publish PublishOwnFile(const std::filesystem::path& path, const std::string& contents, std::string& error) {
  OwnFileSecurity security;
  if (!security.Ready()) {
    error = "cannot describe a file of this account alone: " + security.Error();
    return Publish::Failed;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), security.Descriptor(), FALSE};
  const auto draft = DraftName(path);
  {
    UniqueHandle file = Own(CreateFileW(draft.c_str(), GENERIC_WRITE | WRITE_DAC, 0, &attributes, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      error = LastError();
      return Publish::Failed;
    }
    if (!security.Apply(file.get())) {
      error = "cannot keep it to this account: " + security.Error();
      file.reset(); // a file open without FILE_SHARE_DELETE cannot be deleted
      (void)DeleteFileW(draft.c_str());
      return Publish::Failed;
    }
    DWORD written = 0;
    if (WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) == 0 ||
        written != contents.size() || FlushFileBuffers(file.get()) == 0) {
      error = LastError();
      file.reset();
      (void)DeleteFileW(draft.c_str());
      return Publish::Failed;
    }
  }
  // A second name for the finished file, which fails when `path` exists: one step, so two
  // starts at once cannot both make it (Wine's move without replacing looks, then renames).
  // The file keeps its own protected access list under either name.
  if (CreateHardLinkW(path.c_str(), draft.c_str(), nullptr) != 0) {
    (void)DeleteFileW(draft.c_str());
    return Publish::Made;
  }
  if (const DWORD linkError = GetLastError();
      linkError == ERROR_ALREADY_EXISTS || linkError == ERROR_FILE_EXISTS) {
    (void)DeleteFileW(draft.c_str());
    return Publish::Exists;
  }
  // A volume without hard links (FAT): without MOVEFILE_REPLACE_EXISTING the move fails when
  // `path` exists.
  if (MoveFileExW(draft.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0) {
    return Publish::Made;
  }
  const DWORD moveError = GetLastError();
  (void)DeleteFileW(draft.c_str());
  if (moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS) {
    return Publish::Exists;
  }
  error = SystemMessage(moveError);
  return Publish::Failed;
}

bool ReadOwnFile(const std::filesystem::path& path, std::size_t limit, std::string& contents,
                 std::string& error, std::string& /*warning*/) {
  // FILE_SHARE_DELETE: the start that made the file may be removing its draft name, a second
  // name of the same file, at this moment.
  const UniqueHandle file = Own(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = LastError();
    return false;
  }
  LARGE_INTEGER size{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    error = "not a regular file";
    return false;
  }
  if (GetFileSizeEx(file.get(), &size) == 0) {
    error = LastError();
    return false;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > limit) {
    error = "larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  std::string buffer(limit + 1, '\0');
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    DWORD count = 0;
    if (ReadFile(file.get(), buffer.data() + filled, static_cast<DWORD>(buffer.size() - filled), &count,
                 nullptr) == 0) {
      error = LastError();
      return false;
    }
    if (count == 0) {
      break;
    }
    filled += count;
  }
  if (filled > limit) {
    error = "larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  buffer.resize(filled);
  contents = std::move(buffer);
  return true;
}

} // namespace kv58::serve::detail
