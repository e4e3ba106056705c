#include "lang/file_lines.h"

#include <string>
#include <string_view>
#include <system_error>

#include "common/errors.h"
#include "common/read_only_file.h"

namespace kv58 {
namespace {

// What the existence test of the language file counts as no file: nothing of that name, a
// link that points nowhere, or a folder.
bool NamesNoFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto type = std::filesystem::status(path, error).type();
  return type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::directory;
}

} // namespace

bool ForEachFileLine(const std::filesystem::path& path, const LineSplitter::LineSink& sink,
                     std::size_t chunkBytes) {
  if (NamesNoFile(path)) {
    return false;
  }
  ReadOnlyFile file(path);
  if (!file.RegularFileSize()) {
    throw FileOpenError(path.string());
  }

  LineSplitter splitter(sink);
  std::string chunk;
  const std::size_t wanted = chunkBytes > 0 ? chunkBytes : 1;
  do {
    if (!file.ReadAtMost(wanted, chunk)) {
      throw FileOpenError(path.string());
    }
  } while (splitter.Feed(chunk) && chunk.size() == wanted);
  splitter.Finish();
  return true;
}

} // namespace kv58
