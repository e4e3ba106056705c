#pragma once
// The language table: the rows of the language file, one per line, and the lookup of a
// window text by key and language column. Loaded once at start; read-only afterwards.
//
// Every cell's bytes sit one after another in one buffer, and an index maps each text to the
// first row holding it, so a file of a million lines costs little more memory than its own
// size and a lookup costs the same whatever the number of rows.

#include <cstddef>
#include <cstdint>
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

  [[nodiscard]] std::size_t RowCount() const noexcept { return rowStarts_.size() - 1; }
  // A copy of the row at `index`; raises ListIndexError(index) past the last row.
  [[nodiscard]] LANGstring Row(std::size_t index) const;

  // The cells of row 0, the languages the file offers; empty when there are no rows.
  [[nodiscard]] std::vector<std::string> LanguageNames() const;

  // How every text of the loaded file is to be shown; UTF-8 until a file has been loaded.
  [[nodiscard]] TextEncoding Encoding() const noexcept { return encoding_; }

private:
  static constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;

  [[nodiscard]] std::string_view Cell(std::uint32_t cell) const noexcept;
  [[nodiscard]] std::size_t CellCount() const noexcept { return cellStarts_.size() - 1; }
  // The first cell, in file order, equal to `key`, or kNoCell.
  [[nodiscard]] std::uint32_t FindFirstCell(std::string_view key) const noexcept;
  void AddCell(std::string_view text);
  void IndexCell(std::uint32_t cell);
  void GrowIndex();

  std::string text_;                         // every cell's bytes, in file order
  std::vector<std::uint32_t> cellStarts_{0}; // where cell i starts in text_; one more at the end
  std::vector<std::uint32_t> cellRows_;      // the row of cell i
  std::vector<std::uint32_t> rowStarts_{0};  // row r's first cell; one more at the end
  // Open addressing with linear probing: each slot holds the first cell of one distinct text,
  // or kNoCell. At most three quarters are in use.
  std::vector<std::uint32_t> slots_;
  std::size_t usedSlots_ = 0;
  TextEncoding encoding_ = TextEncoding::Utf8;
};

} // namespace kv58
