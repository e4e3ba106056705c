#pragma once
// The language table: the rows of the language file, one per line, and the lookup of a
// window text by key and language column. Loaded once at start; read-only afterwards.
//
// Every cell's bytes sit one after another in one buffer, and an index built once per file maps
// each text to the first row holding it, so a file of a million lines costs about twice its
// own size in memory and a lookup costs the same whatever the number of rows.

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
  // A row's cells as stored: each cell's length (7 bits a byte, low bits first) and its bytes.
  class CellReader;

  [[nodiscard]] std::string_view RowText(std::size_t row) const noexcept;
  struct Probe {
    std::uint32_t row; // the first row, in file order, with a cell equal to the key; or kNoRow
    std::size_t slot;  // the key's slot; or, for no row, the free slot where it would go
  };
  [[nodiscard]] Probe Find(std::string_view key, std::size_t hash) const noexcept;
  // Puts a text of `row` into the index unless an earlier row holds it; there is room.
  void Insert(std::uint32_t row, std::string_view text, std::size_t hash);
  void IndexLastRow();
  // Builds the index afresh for every row, in file order, with room for `texts` texts.
  void BuildIndex(std::size_t texts);

  static constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

  std::string text_;                        // every row's cells, one row after another
  std::vector<std::uint32_t> rowStarts_{0}; // where row r starts in text_; one more at the end
  std::size_t cellCount_ = 0;
  std::size_t indexedCells_ = 0; // the cells of the rows in the index
  // The index: open addressing with linear probing, in use at most three quarters. A slot
  // holds the row in which a text first appears and one byte of the text's hash (0: free),
  // so that a probe seldom has to look at the row. Texts enter in file order and none ever
  // leaves, so the first slot along a probe whose row holds the key holds its first row.
  std::vector<std::uint32_t> slotRows_;
  std::vector<std::uint8_t> slotTags_;
  std::size_t usedSlots_ = 0;
  bool loading_ = false; // a file is being read: the index is built once at its end
  TextEncoding encoding_ = TextEncoding::Utf8;
};

} // namespace kv58
