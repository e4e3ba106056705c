#include "lang/language_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "lang/utf8.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;

// The keys the window looks up, in the order a language pass applies them, the title, and
// the words only assistive technology hears.
constexpr std::string_view kWindowKeys[] = {
    "SAVE",       "RESET",      "SEND TEXT",       "NUMBER OF CHARACTERS",
    "LANGUAGE",   "CONNECT",    "SCROLL SETTINGS", "FIRST LINE",
    "LAST LINE",  "SPEED",      "TYPE OF SCROLL",  "OFF",
    "VERTICAL",   "HORIZONTAL", "PORT CONNECTED",  "GLOBAL APPLICATION TITLE",
    "LINE SPEED", "TEXT FILE"};

// What a lookup gives for a key no row holds. Appended piece by piece: GCC 12 at -O3 warns
// falsely (-Wrestrict) about "{" + std::string + "}".
std::string InBraces(std::string_view key) {
  std::string text = "{";
  text.append(key).append("}");
  return text;
}

class ExampleLangFileTest : public ::testing::Test {
protected:
  LanguageTable table;

  void SetUp() override {
    const std::filesystem::path path = KV58_EXAMPLE_LANG_FILE;
    ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;
    table.LoadLanguageFile(path);
  }
};

TEST_F(ExampleLangFileTest, FirstRowNamesThreeLanguages) {
  EXPECT_THAT(table.LanguageNames(), ElementsAre("Polski", "English", "Deutsch"));
}

TEST_F(ExampleLangFileTest, EveryWindowKeyHasANonEmptyTextInEveryLanguage) {
  const auto languages = static_cast<std::int32_t>(table.LanguageNames().size());
  for (const auto key : kWindowKeys) {
    for (std::int32_t column = 0; column < languages; ++column) {
      std::string text;
      ASSERT_NO_THROW(text = table.Translate(key, column)) << key << " in column " << column;
      EXPECT_FALSE(text.empty()) << key << " in column " << column;
      EXPECT_NE(text, InBraces(key)) << key << " is missing";
    }
  }
}

TEST_F(ExampleLangFileTest, EnglishColumnHoldsTheKeysAndPolishHasItsLetters) {
  for (const auto key : kWindowKeys) {
    if (key != "GLOBAL APPLICATION TITLE") {
      EXPECT_EQ(table.Translate(key, 1), key);
    }
  }
  EXPECT_EQ(table.Translate("CONNECT", 0), "Po\xC5\x82\xC4\x85"
                                           "cz");
  EXPECT_EQ(table.Translate("LANGUAGE", 0), "J\xC4\x99zyk");
}

TEST_F(ExampleLangFileTest, EveryCellIsUtf8) {
  for (std::size_t i = 0; i < table.RowCount(); ++i) {
    for (const auto& cell : table.Row(i).Cells) {
      EXPECT_TRUE(IsValidUtf8(cell)) << "row " << i << ": " << cell;
    }
  }
}

} // namespace
} // namespace kv58
