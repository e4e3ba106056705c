#include "protocol/upload_file.h"

#include <algorithm>
#include <utility>

#include "common/read_only_file.h"
#include "protocol/text_upload.h"

namespace kv58 {
namespace {

[[nodiscard]] UploadFile Unreadable(std::uint64_t knownSize) {
  return {UploadFile::Status::Unreadable, knownSize, {}};
}

[[nodiscard]] UploadFile TooLong(std::uint64_t size) { return {UploadFile::Status::TooLong, size, {}}; }

} // namespace

UploadFile LoadUploadFile(const std::filesystem::path& path) {
  ReadOnlyFile file(path);
  const std::optional<std::uint64_t> size = file.RegularFileSize();
  if (!size) {
    return Unreadable(0);
  }
  if (*size > kMaxTextBytes) {
    return TooLong(*size);
  }
  // One byte more than the limit tells a file that grew since its size was taken.
  std::string bytes;
  if (!file.ReadAtMost(kMaxTextBytes + 1, bytes)) {
    return Unreadable(*size);
  }
  if (bytes.size() > kMaxTextBytes) {
    return TooLong(std::max<std::uint64_t>(file.RegularFileSize().value_or(0), bytes.size()));
  }
  const std::uint64_t loaded = bytes.size();
  return {UploadFile::Status::Loaded, loaded, std::move(bytes)};
}

} // namespace kv58
