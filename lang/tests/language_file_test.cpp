#include "lang/language_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/testing/scratch_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kv58 {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::string_view_literals;
using Rows = std::vector<std::vector<std::string>>;

Rows RowsOf(const LanguageTable& table) {
  Rows rows;
  for (std::size_t i = 0; i < table.RowCount(); ++i) {
    const auto& cells = table.Row(i).Cells;
    rows.emplace_back(cells.begin(), cells.end());
  }
  return rows;
}

// Each test works in a folder of its own under the system's temporary folder.
class LanguageFileTest : public ::testing::Test {
protected:
  testing::ScratchDir scratch;
  const fs::path folder = scratch.Path();

  fs::path Write(std::string_view bytes, const std::string& name = "lang.txt") {
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static Rows Load(const fs::path& path) {
    LanguageTable table;
    table.LoadLanguageFile(path);
    return RowsOf(table);
  }
};

TEST_F(LanguageFileTest, NoFileLeavesTheTableEmpty) {
  LanguageTable table;
  EXPECT_NO_THROW(table.LoadLanguageFile(folder / "lang.txt"));
  EXPECT_EQ(table.RowCount(), 0u);
  EXPECT_EQ(table.Translate("SAVE", 0), "{SAVE}");
}

TEST_F(LanguageFileTest, EmptyFileGivesNoRows) { EXPECT_THAT(Load(Write("")), IsEmpty()); }

TEST_F(LanguageFileTest, SameRowsWhateverTheLineEnds) {
  const Rows expected{{"Polski", "English"}, {"Zapisz", "SAVE"}, {}, {"Zeruj", "RESET"}};
  for (const auto end : {"\r\n"sv, "\n"sv, "\r"sv}) {
    const std::string e(end);
    const auto text = "Polski\tEnglish\t" + e + "Zapisz\tSAVE\t" + e + "# zeroing" + e + "Zeruj\tRESET\t" + e;
    EXPECT_EQ(Load(Write(text)), expected)
        << "line end of " << end.size() << " bytes, first byte " << static_cast<int>(end.front());
  }
}

TEST_F(LanguageFileTest, LfCrGivesAnExtraEmptyRow) {
  EXPECT_EQ(Load(Write("Polski\t\n\rZapisz\t\n\r")), (Rows{{"Polski"}, {}, {"Zapisz"}, {}}));
}

TEST_F(LanguageFileTest, LastLineWithoutLineEndCounts) {
  EXPECT_EQ(Load(Write("Polski\t\r\nZapisz\tSAVE")), (Rows{{"Polski"}, {"Zapisz", "SAVE"}}));
}

TEST_F(LanguageFileTest, ByteOrderMarkStaysInTheFirstCell) {
  const auto rows = Load(Write("\xEF\xBB\xBFPolski\tEnglish\t\r\n"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_THAT(rows[0], ElementsAre("\xEF\xBB\xBFPolski", "English"));
}

TEST_F(LanguageFileTest, NulByteEndsTheText) {
  EXPECT_EQ(Load(Write("Polski\t\r\nZap\0isz\t\r\nZeruj\t\r\n"sv)), (Rows{{"Polski"}, {"Zap"}}));
}

TEST_F(LanguageFileTest, LoadingAgainAppends) {
  const auto path = Write("Polski\t\r\nZapisz\tSAVE\t\r\n");
  LanguageTable table;
  table.LoadLanguageFile(path);
  table.LoadLanguageFile(path);
  EXPECT_EQ(table.RowCount(), 4u);
}

// The reader takes the file in chunks; a CR LF pair split between two chunks is still one line
// end, and a line longer than a chunk stays whole.
TEST_F(LanguageFileTest, ChunkSizeDoesNotChangeTheRows) {
  const auto path = Write("Polski\tEnglish\t\r\nZapisz\tSAVE\t\r\n\r\nZeruj\t\n\rRESET\t#c\r\nlast");
  const Rows expected = Load(path);
  ASSERT_EQ(expected.size(), 7u);
  for (const std::size_t chunk : {1u, 2u, 3u, 5u, 7u, 16u}) {
    LanguageTable table;
    table.LoadLanguageFile(path, chunk);
    EXPECT_EQ(RowsOf(table), expected) << "chunks of " << chunk;
  }
}

TEST_F(LanguageFileTest, CrLfAcrossTheDefaultChunkBoundaryIsOneLineEnd) {
  // The first line fills the first chunk but for its CR, whose LF opens the second chunk.
  std::string text(kDefaultReadChunkBytes - 1, 'x');
  text += "\r\nZapisz\tSAVE\t\r\n";
  const auto rows = Load(Write(text));
  ASSERT_EQ(rows.size(), 2u) << "no empty row between the two lines";
  EXPECT_EQ(rows[0], std::vector<std::string>{std::string(kDefaultReadChunkBytes - 1, 'x')});
  EXPECT_THAT(rows[1], ElementsAre("Zapisz", "SAVE"));
}

// Each would block or act on being opened; each is refused at once with the name as given.
TEST_F(LanguageFileTest, FifoOrDeviceRaisesTheOpenErrorWithoutBlocking) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs and device nodes in the file system are POSIX matters";
#else
  const auto fifo = folder / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << "no writer ever opens it";
  for (const auto& path : {fifo, fs::path("/dev/null")}) {
    LanguageTable table;
    try {
      table.LoadLanguageFile(path);
      ADD_FAILURE() << path << " was read as the language file";
    } catch (const FileOpenError& error) {
      EXPECT_EQ(error.what(), "Cannot open file " + path.string());
    }
    EXPECT_EQ(table.RowCount(), 0u);
  }
#endif
}

TEST_F(LanguageFileTest, UnreadableFileRaisesTheOpenError) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no permission that keeps a file's owner from reading it: the file "
                  "would only become read-only, still open for reading and not removable afterwards";
#endif
  const auto path = Write("Polski\t\r\n");
  fs::permissions(path, fs::perms::none);
  if (std::ifstream(path).is_open()) {
    GTEST_SKIP() << "this account reads files regardless of their permissions (root); run as a normal user";
  }
  LanguageTable table;
  EXPECT_THROW(table.LoadLanguageFile(path), FileOpenError);
  EXPECT_EQ(table.RowCount(), 0u);
}

// Decided once for the whole file: Windows-1250 words may form valid UTF-8 one by one.
TEST_F(LanguageFileTest, EncodingIsJudgedForTheWholeFile) {
  struct Case {
    const char* label;
    std::string_view bytes;
    TextEncoding encoding;
  };
  for (const auto& [label, bytes, encoding] :
       {Case{"Ascii", "Polski\tEnglish\t\r\nSAVE\tSave\t\r\n", TextEncoding::Utf8},
        Case{"Utf8", "Polski\tEnglish\t\r\nWI\xC4\x98\xC5\xB9\tTIE\t\r\n", TextEncoding::Utf8},
        // "WIĘŹ" in Windows-1250 is valid UTF-8 on its own; "Język" in the first line is not.
        Case{"Windows1250", "J\xEAzyk\tLanguage\t\r\nWI\xCA\x8F\tTIE\t\r\n", TextEncoding::Ansi},
        Case{"Windows1250InACommentOnly", "Polski\t# J\xEAzyk\r\n", TextEncoding::Ansi},
        Case{"ByteOrderMarkWins", "\xEF\xBB\xBFPolski\t\r\nJ\xEAzyk\t\r\n", TextEncoding::Utf8},
        Case{"AfterTheNulNothingCounts", "Polski\t\r\n\0J\xEAzyk"sv, TextEncoding::Utf8}}) {
    LanguageTable table;
    table.LoadLanguageFile(Write(bytes));
    EXPECT_EQ(table.Encoding(), encoding) << label;
  }
}

} // namespace
} // namespace kv58
