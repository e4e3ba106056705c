#pragma once
// The language table: the rows of the language file, one per line, and the lookup of a
// window text by key and language column. Loaded once at start; read-only afterwards.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "lang/file_lines.h"
#include "lang/lang_string.h"
#include "lang/text_encoding.h"

namespace kv58 {

class LanguageTable {
public:
  // Appends one row per line of the file at `path` and judges how the file's texts are shown.
  // No such file (or a folder of that name): nothing happens. A file that exists but cannot be
  // read raises FileOpenError carrying `path` as given.
  void LoadLanguageFile(const std::filesystem::path& path);
  // The same, reading `chunkBytes` at a time; the chunk size changes nothing but memory use.
  void LoadLanguageFile(const std::filesystem::path& path, std::size_t chunkBytes);

  // Appends the row that one line gives: the comment from the first '#' is cut; cells are
  // separated by runs of TABs, leading TABs skipped; "*NULL*" stands for an empty cell; text
  // after the last TAB is one more cell unless it is only blanks (spaces before a comment,
  // say). Every line gives a row, an empty one included.
  void ParseLanguageLine(std::string_view line);

  // The cell at `column` of the first row (in file order) holding a cell equal to `key`,
  // byte for byte. Raises ListIndexError(column) when that row has no such column. No row
  // holds the key: "{" + key + "}", whatever the column.
  [[nodiscard]] std::string Translate(std::string_view key, std::int32_t column) const;

  [[nodiscard]] std::size_t RowCount() const noexcept { return LanguageRows.size(); }
  // Raises ListIndexError(index) past the last row.
  [[nodiscard]] const LANGstring& Row(std::size_t index) const;

  // The cells of row 0, the languages the file offers; empty when there are no rows.
  [[nodiscard]] std::vector<std::string> LanguageNames() const;

  // How every text of the loaded file is to be shown; UTF-8 until a file has been loaded.
  [[nodiscard]] TextEncoding Encoding() const noexcept { return encoding_; }

private:
  // A deque, so that millions of rows grow the table without copying it.
  std::deque<LANGstring> LanguageRows;
  TextEncoding encoding_ = TextEncoding::Utf8;
};

} // namespace kv58
