#include "lang/language_table.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

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

std::string_view CellText(std::string_view cell) {
  return cell == kEmptyCellMark ? std::string_view() : cell;
}

// The rest of a line after its last TAB, when it holds nothing but blanks, is no cell.
bool IsBlankRest(std::string_view cell, bool lastInLine) {
  return lastInLine && cell.find_first_not_of(kBlank) == std::string_view::npos;
}

// More than 4 GiB of cell bytes, or that many cells or rows, do not fit the table's 32-bit numbers.
constexpr std::uint64_t kMaxTextBytes = 0xFFFFFFFEu;
constexpr std::size_t kFirstIndexSlots = 64;

std::size_t HashOf(std::string_view text) noexcept { return std::hash<std::string_view>{}(text); }

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
  // A line holds no more cells, nor more cell bytes, than it has bytes.
  if (text_.size() + line.size() > kMaxTextBytes || CellCount() + line.size() + 1 > kMaxTextBytes ||
      RowCount() + 1 > kMaxTextBytes) {
    throw std::length_error("Language file too large");
  }
  // Each turn takes at least one byte off the front, so the loop always ends.
  for (auto rest = SkipSeparators(WithoutComment(line)); !rest.empty(); rest = SkipSeparators(rest)) {
    const auto cellEnd = std::min(rest.find(kCellSeparator), rest.size());
    const auto cell = rest.substr(0, cellEnd);
    if (!IsBlankRest(cell, cellEnd == rest.size())) {
      AddCell(CellText(cell));
    }
    rest.remove_prefix(cellEnd);
  }
  rowStarts_.push_back(static_cast<std::uint32_t>(CellCount()));
}

void LanguageTable::AddCell(std::string_view text) {
  text_.append(text);
  const auto cell = static_cast<std::uint32_t>(CellCount());
  cellStarts_.push_back(static_cast<std::uint32_t>(text_.size()));
  cellRows_.push_back(static_cast<std::uint32_t>(RowCount()));
  if (FindFirstCell(text) == kNoCell) {
    IndexCell(cell);
  }
}

std::string_view LanguageTable::Cell(std::uint32_t cell) const noexcept {
  return std::string_view(text_).substr(cellStarts_[cell], cellStarts_[cell + 1] - cellStarts_[cell]);
}

std::uint32_t LanguageTable::FindFirstCell(std::string_view key) const noexcept {
  if (slots_.empty()) {
    return kNoCell;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = HashOf(key) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t cell = slots_[slot];
    if (cell == kNoCell || Cell(cell) == key) {
      return cell;
    }
  }
}

// Only a text's first cell is indexed, so a slot always answers with the earliest row.
void LanguageTable::IndexCell(std::uint32_t cell) {
  if ((usedSlots_ + 1) * 4 > slots_.size() * 3) {
    GrowIndex();
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = HashOf(Cell(cell)) & mask;
  while (slots_[slot] != kNoCell) {
    slot = (slot + 1) & mask;
  }
  slots_[slot] = cell;
  ++usedSlots_;
}

void LanguageTable::GrowIndex() {
  std::vector<std::uint32_t> old(std::max(kFirstIndexSlots, slots_.size() * 2), kNoCell);
  old.swap(slots_);
  usedSlots_ = 0;
  for (const std::uint32_t cell : old) {
    if (cell != kNoCell) {
      IndexCell(cell);
    }
  }
}

std::string LanguageTable::Translate(std::string_view key, std::int32_t column) const {
  const std::uint32_t cell = FindFirstCell(key);
  if (cell == kNoCell) {
    return InBraces(key);
  }
  const std::uint32_t row = cellRows_[cell];
  if (column < 0 || static_cast<std::uint32_t>(column) >= rowStarts_[row + 1] - rowStarts_[row]) {
    throw ListIndexError(column);
  }
  return std::string(Cell(rowStarts_[row] + static_cast<std::uint32_t>(column)));
}

LANGstring LanguageTable::Row(std::size_t index) const {
  if (index >= RowCount()) {
    throw ListIndexError(static_cast<std::int64_t>(index));
  }
  LANGstring row;
  for (auto cell = rowStarts_[index]; cell < rowStarts_[index + 1]; ++cell) {
    row.AddCell(std::string(Cell(cell)));
  }
  return row;
}

std::vector<std::string> LanguageTable::LanguageNames() const {
  if (RowCount() == 0) {
    return {};
  }
  std::vector<std::string> names;
  for (auto cell = rowStarts_[0]; cell < rowStarts_[1]; ++cell) {
    names.emplace_back(Cell(cell));
  }
  return names;
}

} // namespace kv58
