#include "lang/language_table.h"

#include <algorithm>
#include <array>
#include <functional>
#include <stdexcept>
#include <system_error>

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

// Rows are numbered, and found in the text, with 32 bits.
constexpr std::uint64_t kMaxTextBytes = 0xFFFFFFF0u;
constexpr std::size_t kFirstIndexSlots = 64;
constexpr unsigned kTagShift = 56; // the hash's top byte tags a slot; its low bits pick it
constexpr std::uint8_t kEmptySlot = 0;
constexpr unsigned kLengthBits = 7;
constexpr std::uint8_t kLengthMask = 0x7F;
constexpr std::uint8_t kMoreLength = 0x80;

std::size_t HashOf(std::string_view text) noexcept { return std::hash<std::string_view>{}(text); }

// Never kEmptySlot.
std::uint8_t TagOf(std::size_t hash) noexcept {
  const auto tag = static_cast<std::uint8_t>(std::uint64_t{hash} >> kTagShift);
  return tag == kEmptySlot ? std::uint8_t{1} : tag;
}

void AppendLength(std::string& text, std::size_t length) {
  for (; length > kLengthMask; length >>= kLengthBits) {
    text.push_back(static_cast<char>((length & kLengthMask) | kMoreLength));
  }
  text.push_back(static_cast<char>(length));
}

void Prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// Room for `texts` at most three quarters full, a power of two.
std::size_t SlotsFor(std::size_t texts) {
  std::size_t slots = kFirstIndexSlots;
  while (slots * 3 < texts * 4) {
    slots *= 2;
  }
  return slots;
}

std::string InBraces(std::string_view key) { return "{" + std::string(key) + "}"; }

} // namespace

// Walks the cells of one row in order.
class LanguageTable::CellReader {
public:
  explicit CellReader(std::string_view row) : rest_(row) {}
  // The next cell; false past the last.
  bool Next(std::string_view& cell) noexcept {
    if (rest_.empty()) {
      return false;
    }
    std::size_t length = 0;
    unsigned shift = 0;
    std::uint8_t byte = 0;
    do {
      byte = static_cast<std::uint8_t>(rest_.front());
      rest_.remove_prefix(1);
      length |= static_cast<std::size_t>(byte & kLengthMask) << shift;
      shift += kLengthBits;
    } while ((byte & kMoreLength) != 0);
    cell = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return true;
  }

private:
  std::string_view rest_;
};

void LanguageTable::LoadLanguageFile(const std::filesystem::path& path) {
  LoadLanguageFile(path, kDefaultReadChunkBytes);
}

void LanguageTable::LoadLanguageFile(const std::filesystem::path& path, std::size_t chunkBytes) {
  // No file is not an error here: the table simply stays as it is.
  TextEncodingJudge judge;
  // The cells take about the file's size: room for them at once spares copying the text
  // as it grows. Room that stays unused costs address space only.
  std::error_code unknownSize;
  const auto fileBytes = std::filesystem::file_size(path, unknownSize);
  if (!unknownSize && fileBytes < kMaxTextBytes) {
    text_.reserve(text_.size() + fileBytes + fileBytes / 8);
  }
  loading_ = true;
  bool read = false;
  try {
    read = ForEachFileLine(
        path,
        [this, &judge](std::string_view line) {
          judge.SeeLine(line);
          ParseLanguageLine(line);
        },
        chunkBytes);
  } catch (...) {
    // The rows read before the failure stay, and are found.
    loading_ = false;
    BuildIndex(cellCount_);
    throw;
  }
  loading_ = false;
  BuildIndex(cellCount_);
  if (read) {
    encoding_ = judge.Verdict();
  }
}

void LanguageTable::ParseLanguageLine(std::string_view line) {
  // A line adds at most one length byte per byte, and its own bytes.
  if (text_.size() + 2 * line.size() > kMaxTextBytes || RowCount() + 1 > kMaxTextBytes) {
    throw std::length_error("Language file too large");
  }
  // Each turn takes at least one byte off the front, so the loop always ends.
  for (auto rest = SkipSeparators(WithoutComment(line)); !rest.empty(); rest = SkipSeparators(rest)) {
    const auto cellEnd = std::min(rest.find(kCellSeparator), rest.size());
    const auto cell = rest.substr(0, cellEnd);
    if (!IsBlankRest(cell, cellEnd == rest.size())) {
      const auto text = CellText(cell);
      AppendLength(text_, text.size());
      text_.append(text);
      ++cellCount_;
    }
    rest.remove_prefix(cellEnd);
  }
  rowStarts_.push_back(static_cast<std::uint32_t>(text_.size()));
  if (!loading_) {
    IndexLastRow();
  }
}

std::string_view LanguageTable::RowText(std::size_t row) const noexcept {
  return std::string_view(text_).substr(rowStarts_[row], rowStarts_[row + 1] - rowStarts_[row]);
}

LanguageTable::Probe LanguageTable::Find(std::string_view key, std::size_t hash) const noexcept {
  if (slotTags_.empty()) {
    return {kNoRow, 0};
  }
  const std::size_t mask = slotTags_.size() - 1;
  const std::uint8_t tag = TagOf(hash);
  std::size_t slot = hash & mask;
  for (; slotTags_[slot] != kEmptySlot; slot = (slot + 1) & mask) {
    if (slotTags_[slot] != tag) {
      continue;
    }
    CellReader cells(RowText(slotRows_[slot]));
    for (std::string_view cell; cells.Next(cell);) {
      if (cell == key) {
        return {slotRows_[slot], slot};
      }
    }
  }
  return {kNoRow, slot};
}

void LanguageTable::Insert(std::uint32_t row, std::string_view text, std::size_t hash) {
  const Probe found = Find(text, hash);
  if (found.row == kNoRow) {
    slotRows_[found.slot] = row;
    slotTags_[found.slot] = TagOf(hash);
    ++usedSlots_;
  }
}

void LanguageTable::IndexLastRow() {
  // Afresh, so that the texts go in in file order again, when the row could fill the index
  // beyond three quarters.
  const std::size_t rowCells = cellCount_ - indexedCells_;
  if ((usedSlots_ + rowCells) * 4 > slotTags_.size() * 3) {
    BuildIndex((usedSlots_ + rowCells) * 2);
    return;
  }
  const auto row = static_cast<std::uint32_t>(RowCount() - 1);
  CellReader cells(RowText(row));
  for (std::string_view cell; cells.Next(cell);) {
    Insert(row, cell, HashOf(cell));
  }
  indexedCells_ = cellCount_;
}

void LanguageTable::BuildIndex(std::size_t texts) {
  const std::size_t slots = SlotsFor(texts);
  slotRows_.assign(slots, kNoRow);
  slotTags_.assign(slots, kEmptySlot);
  usedSlots_ = 0;
  // The texts go in in file order, a batch at a time: the batch's slots are fetched from
  // memory together first, as they lie anywhere in an index larger than the caches.
  struct Pending {
    std::uint32_t row;
    std::string_view text;
    std::size_t hash;
  };
  constexpr std::size_t kBatch = 16;
  std::array<Pending, kBatch> batch{};
  std::size_t pending = 0;
  const auto insertBatch = [&] {
    for (std::size_t i = 0; i < pending; ++i) {
      Insert(batch[i].row, batch[i].text, batch[i].hash);
    }
    pending = 0;
  };
  for (std::uint32_t row = 0; row < RowCount(); ++row) {
    CellReader cells(RowText(row));
    for (std::string_view cell; cells.Next(cell);) {
      const std::size_t hash = HashOf(cell);
      Prefetch(&slotTags_[hash & (slots - 1)]);
      Prefetch(&slotRows_[hash & (slots - 1)]);
      batch[pending++] = {row, cell, hash};
      if (pending == kBatch) {
        insertBatch();
      }
    }
  }
  insertBatch();
  indexedCells_ = cellCount_;
}

std::string LanguageTable::Translate(std::string_view key, std::int32_t column) const {
  const std::uint32_t row = Find(key, HashOf(key)).row;
  if (row == kNoRow) {
    return InBraces(key);
  }
  CellReader cells(RowText(row));
  std::string_view cell;
  for (std::int32_t i = 0; cells.Next(cell); ++i) {
    if (i == column) {
      return std::string(cell);
    }
  }
  throw ListIndexError(column);
}

LANGstring LanguageTable::Row(std::size_t index) const {
  if (index >= RowCount()) {
    throw ListIndexError(static_cast<std::int64_t>(index));
  }
  LANGstring row;
  CellReader cells(RowText(index));
  for (std::string_view cell; cells.Next(cell);) {
    row.AddCell(std::string(cell));
  }
  return row;
}

std::vector<std::string> LanguageTable::LanguageNames() const {
  if (RowCount() == 0) {
    return {};
  }
  const LANGstring names = Row(0);
  return {names.Cells.begin(), names.Cells.end()};
}

} // namespace kv58
