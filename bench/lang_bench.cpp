// Loading and lookup cost of the language table on generated files of about a million lines.
// The comment-only file gives rows without cells, so the process's peak memory while loading
// it shows what the reader itself holds: run this under `/usr/bin/time -v` with
// --benchmark_filter=CommentOnly and compare the peak with the file's size.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/testing/scratch_dir.h"
#include "lang/language_table.h"

namespace kv58 {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kLines = 1'000'000;

// Files written once per run into a temporary folder and removed at exit.
class GeneratedFiles {
public:
  GeneratedFiles() {
    WriteTable();
    WriteCommentsOnly();
  }
  GeneratedFiles(const GeneratedFiles&) = delete;
  GeneratedFiles& operator=(const GeneratedFiles&) = delete;

  [[nodiscard]] fs::path Table() const { return folder_ / "table.txt"; }
  [[nodiscard]] fs::path CommentsOnly() const { return folder_ / "comments.txt"; }

  static const GeneratedFiles& Get() {
    static const GeneratedFiles files;
    return files;
  }

private:
  // Three languages, every line a key and its texts, CR LF line ends.
  void WriteTable() const {
    std::ofstream out(Table(), std::ios::binary);
    out << "Polski\tEnglish\tDeutsch\t\r\n";
    for (std::int64_t i = 1; i < kLines; ++i) {
      out << "Tekst " << i << "\tTEXT " << i << "\tText " << i << "\t# row " << i << "\r\n";
    }
  }

  // Lines of 100 bytes that are all comment: the rows they give hold nothing.
  void WriteCommentsOnly() const {
    std::ofstream out(CommentsOnly(), std::ios::binary);
    const std::string line = "#" + std::string(97, '-') + "\r\n";
    for (std::int64_t i = 0; i < kLines; ++i) {
      out << line;
    }
  }

  testing::ScratchDir folder_;
};

void Load(benchmark::State& state, const fs::path& path) {
  const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
  for (auto _ : state) {
    LanguageTable table;
    table.LoadLanguageFile(path);
    benchmark::DoNotOptimize(table.RowCount());
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_LoadTable(benchmark::State& state) { Load(state, GeneratedFiles::Get().Table()); }
BENCHMARK(BM_LoadTable)->Unit(benchmark::kMillisecond);

void BM_LoadCommentOnly(benchmark::State& state) { Load(state, GeneratedFiles::Get().CommentsOnly()); }
BENCHMARK(BM_LoadCommentOnly)->Unit(benchmark::kMillisecond);

// A lookup scans from the first row: a key in the last row, or no row at all, costs a full pass.
void Translate(benchmark::State& state, const std::string& key) {
  LanguageTable table;
  table.LoadLanguageFile(GeneratedFiles::Get().Table());
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Translate(key, 0));
  }
}

void BM_TranslateFirstRow(benchmark::State& state) { Translate(state, "TEXT 1"); }
BENCHMARK(BM_TranslateFirstRow);

void BM_TranslateLastRow(benchmark::State& state) { Translate(state, "TEXT " + std::to_string(kLines - 1)); }
BENCHMARK(BM_TranslateLastRow)->Unit(benchmark::kMillisecond);

void BM_TranslateMissingKey(benchmark::State& state) { Translate(state, "NO SUCH KEY"); }
BENCHMARK(BM_TranslateMissingKey)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kv58
