#include "lang/string_list.h"

#include <gtest/gtest.h>

#include "common/errors.h"
#include "lang/lang_string.h"

namespace kv58 {
namespace {

TEST(StringList, KeepsTextsInTheOrderAdded) {
  TStringList list;
  list.Add("b");
  list.Add("");
  list.Add("a");
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Strings(0), "b");
  EXPECT_EQ(list.Strings(1), "");
  EXPECT_EQ(list.Strings(2), "a");
}

TEST(StringList, IndexOutsideRaisesTheIndexError) {
  TStringList list;
  list.Add("only");
  for (const std::int64_t index : {std::int64_t{1}, std::int64_t{-1}, std::int64_t{2147483647}}) {
    try {
      (void)list.Strings(index);
      ADD_FAILURE() << "index " << index << " was accepted";
    } catch (const ListIndexError& error) {
      EXPECT_EQ(error.what(), "List index out of bounds (" + std::to_string(index) + ")");
    }
  }
}

TEST(StringList, ClearLeavesNothingToRead) {
  TStringList list;
  list.Add("x");
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_THROW((void)list.Strings(0), ListIndexError);
}

TEST(LanguageRow, AddCellAppendsThroughTheOverridableSlot) {
  struct CountingRow : LANGstring {
    int added = 0;
    void AddCell(const std::string& text) override {
      ++added;
      LANGstring::AddCell(text);
    }
  };
  CountingRow counting;
  LANGstring& row = counting;
  row.AddCell("Polski");
  row.AddCell("English");
  EXPECT_EQ(counting.added, 2);
  ASSERT_EQ(row.Cells.Count(), 2u);
  EXPECT_EQ(row.Cells.Strings(1), "English");
}

} // namespace
} // namespace kv58
