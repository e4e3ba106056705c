#include "lang/file_lines.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/errors.h"

namespace kv58 {
namespace {

// A link that points nowhere counts as no file: there is nothing to read behind it.
bool NamesNoFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
}

// A folder opens fine as a stream on some systems and only fails when read; refusing it up
// front gives the same error everywhere.
bool IsFolder(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

} // namespace

bool ForEachFileLine(const std::filesystem::path& path, const LineSplitter::LineSink& sink,
                     std::size_t chunkBytes) {
  if (NamesNoFile(path)) {
    return false;
  }
  std::ifstream file;
  if (!IsFolder(path)) {
    file.open(path, std::ios::in | std::ios::binary);
  }
  if (!file.is_open()) {
    throw FileOpenError(path.string());
  }

  LineSplitter splitter(sink);
  std::vector<char> chunk(std::max<std::size_t>(chunkBytes, 1));
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (!splitter.Feed(std::string_view(chunk.data(), got))) {
      break;
    }
  }
  if (file.bad()) {
    throw FileOpenError(path.string());
  }
  splitter.Finish();
  return true;
}

} // namespace kv58
