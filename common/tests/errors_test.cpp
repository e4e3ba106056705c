#include "common/errors.h"

#include <gtest/gtest.h>

namespace kv58 {
namespace {

TEST(Errors, MessagesCarryTheIndexAndThePath) {
  EXPECT_STREQ(ListIndexError(3).what(), "List index out of bounds (3)");
  EXPECT_STREQ(ListIndexError(-1).what(), "List index out of bounds (-1)");
  EXPECT_STREQ(FileOpenError("lang.txt").what(), "Cannot open file lang.txt");
}

TEST(Errors, AllDeriveFromTheCommonBase) {
  EXPECT_THROW(throw ListIndexError(0), Exception);
  EXPECT_THROW(throw FileOpenError("x"), Exception);
}

} // namespace
} // namespace kv58
