// Loading and lookup cost of the language table on generated files of up to a million lines.
// The lookups run on tables of 1 000, 100 000 and 1 000 000 rows: their cost must not grow
// with the rows. The comment-only file gives rows without cells, so the process's peak memory
// while loading it shows what the reader itself holds: run this under `/usr/bin/time -v` with
// --benchmark_filter=CommentOnly and compare the peak with the file's size.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
    WriteCommentsOnly();
  }
  GeneratedFiles(const GeneratedFiles&) = delete;
  GeneratedFiles& operator=(const GeneratedFiles&) = delete;

  // Three languages, a line of language names and then `lines - 1` texts, CR LF line ends.
  [[nodiscard]] fs::path Table(std::int64_t lines) {
    const fs::path path = folder_ / ("table-" + std::to_string(lines) + ".txt");
    if (!fs::exists(path)) {
      std::ofstream out(path, std::ios::binary);
      out << "Polski\tEnglish\tDeutsch\t\r\n";
      for (std::int64_t i = 1; i < lines; ++i) {
        out << "Tekst " << i << "\tTEXT " << i << "\tText " << i << "\t# row " << i << "\r\n";
      }
    }
    return path;
  }
  [[nodiscard]] fs::path CommentsOnly() const { return folder_ / "comments.txt"; }

  static GeneratedFiles& Get() {
    static GeneratedFiles files;
    return files;
  }

  // One loaded table per size, shared by the lookup benchmarks.
  const LanguageTable& Loaded(std::int64_t lines) {
    auto& table = tables_[lines];
    if (!table) {
      table = std::make_unique<LanguageTable>();
      table->LoadLanguageFile(Table(lines));
    }
    return *table;
  }

private:
  // Lines of 100 bytes that are all comment: the rows they give hold nothing.
  void WriteCommentsOnly() const {
    std::ofstream out(CommentsOnly(), std::ios::binary);
    const std::string line = "#" + std::string(97, '-') + "\r\n";
    for (std::int64_t i = 0; i < kLines; ++i) {
      out << line;
    }
  }

  testing::ScratchDir folder_;
  std::map<std::int64_t, std::unique_ptr<LanguageTable>> tables_;
};

void Load(benchmark::State& state, const fs::path& path, std::int64_t lines) {
  const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
  for (auto _ : state) {
    LanguageTable table;
    table.LoadLanguageFile(path);
    benchmark::DoNotOptimize(table.RowCount());
  }
  state.SetItemsProcessed(state.iterations() * lines);
  state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_LoadTable(benchmark::State& state) {
  Load(state, GeneratedFiles::Get().Table(state.range(0)), state.range(0));
}
BENCHMARK(BM_LoadTable)->Arg(100'000)->Arg(kLines)->Unit(benchmark::kMillisecond);

void BM_LoadCommentOnly(benchmark::State& state) {
  Load(state, GeneratedFiles::Get().CommentsOnly(), kLines);
}
BENCHMARK(BM_LoadCommentOnly)->Unit(benchmark::kMillisecond);

// The argument is the table's rows; the key sits in the first row, the last row, or none.
void Translate(benchmark::State& state, const std::string& key) {
  const LanguageTable& table = GeneratedFiles::Get().Loaded(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Translate(key, 0));
  }
}

constexpr std::int64_t kFewRows = 1'000;
constexpr std::int64_t kManyRows = 100'000;

void BM_TranslateFirstRow(benchmark::State& state) { Translate(state, "TEXT 1"); }
BENCHMARK(BM_TranslateFirstRow)->Arg(kFewRows)->Arg(kManyRows)->Arg(kLines);

void BM_TranslateLastRow(benchmark::State& state) {
  Translate(state, "TEXT " + std::to_string(state.range(0) - 1));
}
BENCHMARK(BM_TranslateLastRow)->Arg(kFewRows)->Arg(kManyRows)->Arg(kLines);

void BM_TranslateMissingKey(benchmark::State& state) { Translate(state, "NO SUCH KEY"); }
BENCHMARK(BM_TranslateMissingKey)->Arg(kFewRows)->Arg(kManyRows)->Arg(kLines);

// A language pass asks for the window's fifteen texts; here as many keys spread over the table.
void BM_TranslateFifteenKeys(benchmark::State& state) {
  const LanguageTable& table = GeneratedFiles::Get().Loaded(state.range(0));
  std::vector<std::string> keys;
  for (std::int64_t i = 1; i <= 15; ++i) {
    keys.push_back("TEXT " + std::to_string(i * (state.range(0) - 1) / 15));
  }
  for (auto _ : state) {
    for (const auto& key : keys) {
      benchmark::DoNotOptimize(table.Translate(key, 2));
    }
  }
}
BENCHMARK(BM_TranslateFifteenKeys)->Arg(kFewRows)->Arg(kManyRows)->Arg(kLines);

} // namespace
} // namespace kv58
