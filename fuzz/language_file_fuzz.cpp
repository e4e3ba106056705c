// A language file of any bytes, read in chunks of any size: the table must load it and
// answer every look-up as the plain rule says, the first row in file order holding the key.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/errors.h"
#include "lang/language_table.h"

namespace {

const std::filesystem::path& ScratchFile() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("kv58-language-fuzz-" + std::to_string(::getpid()) + ".txt");
  return path;
}

std::string Translated(const kv58::LanguageTable& table, const std::string& key) {
  try {
    return table.Translate(key, 0);
  } catch (const kv58::ListIndexError&) {
    return "(no column)";
  }
}

// The rule, by a plain scan over the rows.
std::string Scanned(const kv58::LanguageTable& table, const std::string& key) {
  for (std::size_t r = 0; r < table.RowCount(); ++r) {
    const kv58::LANGstring row = table.Row(r);
    for (std::size_t c = 0; c < row.Cells.Count(); ++c) {
      if (row.Cells.Strings(static_cast<std::int64_t>(c)) == key) {
        return row.Cells.Count() > 0 ? row.Cells.Strings(0) : "(no column)";
      }
    }
  }
  return "{" + key + "}";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  std::ofstream(ScratchFile(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes + 1), static_cast<std::streamsize>(size - 1));
  kv58::LanguageTable table;
  table.LoadLanguageFile(ScratchFile(), 1 + bytes[0] % 64);

  constexpr std::size_t kRowsChecked = 32;
  for (std::size_t r = 0; r < table.RowCount() && r < kRowsChecked; ++r) {
    const kv58::LANGstring row = table.Row(r);
    for (std::size_t c = 0; c < row.Cells.Count(); ++c) {
      const std::string& key = row.Cells.Strings(static_cast<std::int64_t>(c));
      if (Translated(table, key) != Scanned(table, key)) {
        std::abort();
      }
    }
  }
  if (Translated(table, "NO SUCH KEY\x01") != "{NO SUCH KEY\x01}") {
    std::abort();
  }
  return 0;
}
