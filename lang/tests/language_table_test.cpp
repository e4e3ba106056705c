#include "lang/language_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/errors.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace std::string_view_literals;
using Cells = std::vector<std::string>;

// What a lookup gives for a key no row holds. Appended piece by piece: GCC 12 at -O3 warns
// falsely (-Wrestrict) about "{" + std::string + "}".
std::string InBraces(std::string_view key) {
  std::string text = "{";
  text.append(key).append("}");
  return text;
}

Cells CellsOf(const LANGstring& row) { return {row.Cells.begin(), row.Cells.end()}; }

Cells ParseOne(std::string_view line) {
  LanguageTable table;
  table.ParseLanguageLine(line);
  EXPECT_EQ(table.RowCount(), 1u) << "every line gives exactly one row";
  return CellsOf(table.Row(0));
}

struct LineCase {
  const char* label;
  std::string_view line;
  Cells cells;
};

class ParseLanguageLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ParseLanguageLineTest, SplitsTheLineIntoCells) {
  EXPECT_THAT(ParseOne(GetParam().line), ElementsAreArray(GetParam().cells));
}

INSTANTIATE_TEST_SUITE_P(
    Separators, ParseLanguageLineTest,
    ::testing::Values(LineCase{"EachCellEndedByTab", "Zapisz\tSave\t", {"Zapisz", "Save"}},
                      LineCase{"RunOfTabsIsOneSeparator", "Zapisz\t\tSave\t", {"Zapisz", "Save"}},
                      LineCase{"LeadingTabsGiveNoEmptyCell", "\t\t\tZapisz\tSave\t", {"Zapisz", "Save"}},
                      LineCase{"TabsOnly", "\t\t\t", {}}, LineCase{"Empty", "", {}},
                      LineCase{"SpacesBelongToTheCell", " a \t b\t", {" a ", " b"}},
                      LineCase{"OtherBytesUnchanged",
                               "\xEF\xBB\xBFPolski\t\xB3\xB9\x01\r\t"sv,
                               {"\xEF\xBB\xBFPolski", "\xB3\xB9\x01\r"}}),
    [](const auto& row) { return std::string(row.param.label); });

INSTANTIATE_TEST_SUITE_P(EmptyCellMark, ParseLanguageLineTest,
                         ::testing::Values(LineCase{"ExactMarkIsEmptied", "*NULL*\tSave\t", {"", "Save"}},
                                           LineCase{"MarkInTheMiddle", "a\t*NULL*\tb\t", {"a", "", "b"}},
                                           LineCase{"MarkAsLastCellWithoutTab", "a\t*NULL*", {"a", ""}},
                                           LineCase{
                                               "OtherCaseIsText", "*null*\t*Null*\t", {"*null*", "*Null*"}},
                                           LineCase{"MarkWithSpaceIsText", "*NULL* \t", {"*NULL* "}},
                                           LineCase{"MarkInsideLongerCellIsText", "x*NULL*\t", {"x*NULL*"}}),
                         [](const auto& row) { return std::string(row.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Comments, ParseLanguageLineTest,
    ::testing::Values(LineCase{"CommentAfterTab", "Zapisz\t# the store button\tmore\t", {"Zapisz"}},
                      LineCase{"CommentOnly", "# Polish, English, German", {}},
                      LineCase{"TabsThenComment", "\t\t#x", {}},
                      LineCase{"HashCutsInsideACell", "Zap#isz\tSave\t", {"Zap"}},
                      LineCase{"FirstHashCuts", "a\t#b\t#c\t", {"a"}},
                      LineCase{"MarkBeforeComment", "*NULL*\t#", {""}}),
    [](const auto& row) { return std::string(row.param.label); });

// Text after the last TAB is kept as a last cell rather than dropped, unless it is only blanks.
INSTANTIATE_TEST_SUITE_P(
    TextAfterLastTab, ParseLanguageLineTest,
    ::testing::Values(
        LineCase{"LastCellWithoutTab", "Zapisz\tSave", {"Zapisz", "Save"}},
        LineCase{"LineWithoutAnyTab", "Zapisz", {"Zapisz"}}, LineCase{"SpacesOnlyIsNoCell", "   ", {}},
        LineCase{"BlanksBeforeCommentAreNoCell", "Zapisz\tSave\t  # the store button", {"Zapisz", "Save"}},
        LineCase{"BlankCellBeforeATabStaysACell", "Zapisz\t \tSave\t", {"Zapisz", " ", "Save"}},
        LineCase{"RestWithTextKeepsItsBlanks", "Zapisz\t Save ", {"Zapisz", " Save "}},
        LineCase{"CellBeforeCommentWithoutTab", "Zapisz\tSave#x", {"Zapisz", "Save"}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(ParseLanguageLine, AppendsRowsInOrderAndKeepsEmptyOnes) {
  LanguageTable table;
  for (const auto line : {"a\t"sv, ""sv, "#only a comment"sv, "b\tc\t"sv}) {
    table.ParseLanguageLine(line);
  }
  ASSERT_EQ(table.RowCount(), 4u);
  EXPECT_THAT(CellsOf(table.Row(0)), ElementsAre("a"));
  EXPECT_THAT(CellsOf(table.Row(1)), IsEmpty());
  EXPECT_THAT(CellsOf(table.Row(2)), IsEmpty());
  EXPECT_THAT(CellsOf(table.Row(3)), ElementsAre("b", "c"));
  EXPECT_THROW((void)table.Row(4), ListIndexError);
}

TEST(ParseLanguageLine, KeepsAVeryLongLineWhole) {
  const std::string cell(1 << 20, 'x');
  EXPECT_THAT(ParseOne(cell + "\t\t" + cell), ElementsAre(cell, cell));
}

// A table of languages Polish, English, German with a few texts, as a file would give it.
class TranslateTest : public ::testing::Test {
protected:
  LanguageTable table;

  void SetUp() override {
    for (const auto line :
         {"Polski\tEnglish\tDeutsch\t"sv, "Zapisz\tSAVE\tSpeichern\t"sv,
          "Zeruj\tRESET\tZur\xC3\xBC"
          "cksetzen\t"sv,
          "Drugi\tSAVE\tZweiter\t"sv, "Kr\xC3\xB3tki\tSHORT\t"sv, "Pusty\tEMPTY\t*NULL*\t"sv, "SPACE \t"sv}) {
      table.ParseLanguageLine(line);
    }
  }
};

TEST_F(TranslateTest, FindsTheKeyInAnyColumnAndAnswersFromTheChosenOne) {
  EXPECT_EQ(table.Translate("RESET", 0), "Zeruj");
  EXPECT_EQ(table.Translate("RESET", 2), "Zur\xC3\xBC"
                                         "cksetzen");
  EXPECT_EQ(table.Translate("Zeruj", 1), "RESET") << "a key may stand in the Polish column";
  EXPECT_EQ(table.Translate("EMPTY", 2), "") << "*NULL* is an empty translation";
}

TEST_F(TranslateTest, EarlierRowWinsForADuplicateKey) {
  EXPECT_EQ(table.Translate("SAVE", 0), "Zapisz");
  EXPECT_EQ(table.Translate("SAVE", 2), "Speichern");
  EXPECT_EQ(table.Translate("Zweiter", 0), "Drugi") << "the later row still answers its own keys";
}

TEST_F(TranslateTest, LanguageNameIsAnsweredFromRowZero) {
  EXPECT_EQ(table.Translate("English", 0), "Polski");
  EXPECT_EQ(table.Translate("Deutsch", 1), "English");
}

TEST_F(TranslateTest, KeyNotHeldComesBackInBraces) {
  for (const auto key : {"save"sv, "SAVE "sv, " SAVE"sv, "SPACE"sv, "SAV"sv, "{SAVE}"sv}) {
    EXPECT_EQ(table.Translate(key, 0), InBraces(key)) << "key \"" << key << "\"";
  }
}

TEST_F(TranslateTest, EmptyKeyFindsTheFirstEmptyCell) {
  EXPECT_EQ(table.Translate("", 0), "Pusty") << "an empty key equals the *NULL* cell";
}

TEST_F(TranslateTest, ColumnOutsideTheMatchingRowRaisesTheIndexErrorWithTheColumn) {
  struct ColumnCase {
    std::string_view key;
    std::int32_t column;
  };
  for (const auto& c : {ColumnCase{"SHORT", 2}, ColumnCase{"SAVE", 3}, ColumnCase{"SAVE", -1},
                        ColumnCase{"SPACE ", 1}, ColumnCase{"Polski", 2147483647}}) {
    try {
      (void)table.Translate(c.key, c.column);
      ADD_FAILURE() << c.key << " at column " << c.column << " was answered";
    } catch (const ListIndexError& error) {
      EXPECT_EQ(error.what(), "List index out of bounds (" + std::to_string(c.column) + ")");
    }
  }
}

TEST_F(TranslateTest, MissingKeyWithABadColumnStillComesBackInBraces) {
  EXPECT_EQ(table.Translate("NO SUCH KEY", -1), "{NO SUCH KEY}");
  EXPECT_EQ(table.Translate("NO SUCH KEY", 99), "{NO SUCH KEY}");
}

TEST_F(TranslateTest, LanguageNamesAreTheCellsOfRowZero) {
  EXPECT_THAT(table.LanguageNames(), ElementsAre("Polski", "English", "Deutsch"));
}

// The lookup rule written as plainly as possible: the first row, in file order, with a cell
// equal to the key. Rows from a small alphabet repeat texts across rows and columns; some
// texts are empty, some longer than one or two length bytes hold. Thousands of rows grow the
// index several times over when they come one by one, and it is built in one go when they
// come from a file.
TEST(LanguageTable, EveryKeyIsAnsweredFromTheFirstRowHoldingIt) {
  constexpr int kRows = 3000;
  constexpr int kTexts = 1900;
  const auto text = [](int n) {
    if (n % 7 == 0) {
      return std::string();
    }
    const std::size_t padding = n % 389 == 0 ? 20'000 : n % 97 == 0 ? 200 : 0;
    return "t" + std::to_string(n) + std::string(padding, 'x');
  };
  std::vector<Cells> rows;
  std::string file;
  LanguageTable parsed;
  for (int r = 0; r < kRows; ++r) {
    Cells cells;
    std::string line;
    for (int c = 0; c < r % 5; ++c) {
      cells.push_back(text((r * 31 + c * 17) % kTexts));
      line += (cells.back().empty() ? "*NULL*" : cells.back()) + "\t";
    }
    parsed.ParseLanguageLine(line);
    rows.push_back(cells);
    file += line + "\r\n";
  }
  const auto path =
      std::filesystem::temp_directory_path() /
      ("kv58-first-row-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::ofstream(path, std::ios::binary) << file;
  LanguageTable loaded;
  loaded.LoadLanguageFile(path);
  std::filesystem::remove(path);
  ASSERT_EQ(loaded.RowCount(), static_cast<std::size_t>(kRows));

  for (int n = -1; n < kTexts + 100; ++n) {
    const std::string key = n < 0 ? "" : text(n);
    const auto first = std::find_if(rows.begin(), rows.end(), [&](const Cells& cells) {
      return std::find(cells.begin(), cells.end(), key) != cells.end();
    });
    for (const LanguageTable* table : {&parsed, &loaded}) {
      SCOPED_TRACE(table == &parsed ? "parsed line by line" : "loaded from a file");
      for (const std::int32_t column : {0, 1, 3}) {
        if (first == rows.end()) {
          EXPECT_EQ(table->Translate(key, column), InBraces(key));
        } else if (static_cast<std::size_t>(column) < first->size()) {
          EXPECT_EQ(table->Translate(key, column), (*first)[static_cast<std::size_t>(column)]) << "key " << n;
        } else {
          EXPECT_THROW((void)table->Translate(key, column), ListIndexError) << "key " << n;
        }
      }
    }
  }
}

TEST(LanguageTable, EmptyTableAnswersEveryKeyInBracesAndOffersNoLanguage) {
  const LanguageTable table;
  EXPECT_EQ(table.RowCount(), 0u);
  EXPECT_THAT(table.LanguageNames(), IsEmpty());
  EXPECT_EQ(table.Translate("SAVE", 0), "{SAVE}");
  EXPECT_EQ(table.Translate("SAVE", -1), "{SAVE}");
}

TEST(LanguageTable, FirstLineWithoutCellsGivesNoLanguages) {
  for (const auto first : {""sv, "# languages: none yet"sv, "\t\t"sv}) {
    LanguageTable table;
    table.ParseLanguageLine(first);
    table.ParseLanguageLine("Zapisz\tSave\t");
    EXPECT_EQ(table.RowCount(), 2u);
    EXPECT_THAT(table.LanguageNames(), IsEmpty()) << "first line \"" << first << "\"";
    EXPECT_EQ(table.Translate("Save", 0), "Zapisz");
  }
}

} // namespace
} // namespace kv58
