#include "lang/language_table.h"

#include <algorithm>
#include <utility>

#include "common/errors.h"

namespace kv58 {
namespace {

constexpr char kCellSeparator = '\t';
constexpr char kCommentMark = '#';
constexpr char kBlank = ' ';
constexpr std::string_view kEmptyCellMark = "*NULL*";

std::string_view WithoutComment(std::string_view line) { return line.substr(0, line.find(kCommentMark)); }

std::string_view SkipSeparators(std::string_view text) {
  const auto first = text.find_first_not_of(kCellSeparator);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string CellText(std::string_view cell) {
  return cell == kEmptyCellMark ? std::string() : std::string(cell);
}

// The rest of a line after its last TAB, when it holds nothing but blanks, is no cell.
bool IsBlankRest(std::string_view cell, bool lastInLine) {
  return lastInLine && cell.find_first_not_of(kBlank) == std::string_view::npos;
}

bool HoldsCell(const LANGstring& row, std::string_view key) {
  return std::any_of(row.Cells.begin(), row.Cells.end(),
                     [key](const std::string& cell) { return cell == key; });
}

// Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) about "{" + std::string + "}".
std::string InBraces(std::string_view key) {
  std::string text;
  text.reserve(key.size() + 2);
  text.append("{").append(key).append("}");
  return text;
}

} // namespace

void LanguageTable::LoadLanguageFile(const std::filesystem::path& path) {
  LoadLanguageFile(path, kDefaultReadChunkBytes);
}

void LanguageTable::LoadLanguageFile(const std::filesystem::path& path, std::size_t chunkBytes) {
  // No file is not an error here: the table simply stays as it is.
  TextEncodingJudge judge;
  const bool read = ForEachFileLine(
      path,
      [this, &judge](std::string_view line) {
        judge.SeeLine(line);
        ParseLanguageLine(line);
      },
      chunkBytes);
  if (read) {
    encoding_ = judge.Verdict();
  }
}

void LanguageTable::ParseLanguageLine(std::string_view line) {
  LANGstring row;
  // Each turn takes at least one byte off the front, so the loop always ends.
  for (auto rest = SkipSeparators(WithoutComment(line)); !rest.empty(); rest = SkipSeparators(rest)) {
    const auto cellEnd = std::min(rest.find(kCellSeparator), rest.size());
    const auto cell = rest.substr(0, cellEnd);
    if (!IsBlankRest(cell, cellEnd == rest.size())) {
      row.AddCell(CellText(cell));
    }
    rest.remove_prefix(cellEnd);
  }
  LanguageRows.push_back(std::move(row));
}

std::string LanguageTable::Translate(std::string_view key, std::int32_t column) const {
  for (const auto& row : LanguageRows) {
    if (HoldsCell(row, key)) {
      return row.Cells.Strings(column);
    }
  }
  return InBraces(key);
}

const LANGstring& LanguageTable::Row(std::size_t index) const {
  if (index >= LanguageRows.size()) {
    throw ListIndexError(static_cast<std::int64_t>(index));
  }
  return LanguageRows[index];
}

std::vector<std::string> LanguageTable::LanguageNames() const {
  if (LanguageRows.empty()) {
    return {};
  }
  const auto& names = LanguageRows.front().Cells;
  return {names.begin(), names.end()};
}

} // namespace kv58
