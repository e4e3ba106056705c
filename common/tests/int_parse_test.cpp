#include "common/int_parse.h"

#include <gtest/gtest.h>

namespace kv58 {
namespace {

struct IntCase {
  std::string_view text;
  std::int32_t expected; // with the fallback 77
};

class ToIntOrDefaultTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(ToIntOrDefaultTest, ConvertsOrFallsBack) {
  EXPECT_EQ(ToIntOrDefault(GetParam().text, 77), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Decimal, ToIntOrDefaultTest,
                         ::testing::Values(IntCase{"0", 0}, IntCase{"9600", 9600}, IntCase{"+12", 12},
                                           IntCase{"-12", -12}, IntCase{"-0", 0}, IntCase{"007", 7},
                                           IntCase{"2147483647", 2147483647},
                                           IntCase{"-2147483648", -2147483647 - 1}, IntCase{"2147483648", 77},
                                           IntCase{"-2147483649", 77}, IntCase{"99999999999999999999", 77},
                                           IntCase{"0000000000000000000000012", 12}));

INSTANTIATE_TEST_SUITE_P(Hexadecimal, ToIntOrDefaultTest,
                         ::testing::Values(IntCase{"$10", 16}, IntCase{"x1F", 31}, IntCase{"X1f", 31},
                                           IntCase{"0x10", 16}, IntCase{"0XaB", 171},
                                           IntCase{"$7FFFFFFF", 2147483647},
                                           IntCase{"$80000000", -2147483647 - 1}, IntCase{"$FFFFFFFF", -1},
                                           IntCase{"$000000000001", 1}, IntCase{"$100000000", 77},
                                           IntCase{"0x", 77}, IntCase{"$", 77}, IntCase{"x", 77},
                                           IntCase{"$G", 77}, IntCase{"-$10", 77}, IntCase{"+0x10", 77},
                                           IntCase{"0x-1", 77}, IntCase{"00x10", 77}));

INSTANTIATE_TEST_SUITE_P(Blanks, ToIntOrDefaultTest,
                         ::testing::Values(IntCase{"  42", 42}, IntCase{" $10", 16}, IntCase{" -3", -3},
                                           IntCase{"42 ", 77}, IntCase{"\t42", 77}, IntCase{"4 2", 77},
                                           IntCase{"- 3", 77}, IntCase{"", 77}, IntCase{"   ", 77}));

INSTANTIATE_TEST_SUITE_P(Garbage, ToIntOrDefaultTest,
                         ::testing::Values(IntCase{"abc", 77}, IntCase{"12abc", 77}, IntCase{"+", 77},
                                           IntCase{"-", 77}, IntCase{"+-1", 77}, IntCase{"1.5", 77},
                                           IntCase{"1e3", 77}, IntCase{std::string_view("1\0", 2), 77}));

TEST(ToIntOrDefault, ReturnsTheGivenFallback) {
  EXPECT_EQ(ToIntOrDefault("abc", 500000), 500000);
  EXPECT_EQ(ToIntOrDefault("abc", 0), 0);
}

// Digits and nothing else, within the type: what the command lines and port names take.
TEST(WholeDecimal, TakesOnlyTheWholeTextWithinTheType) {
  EXPECT_EQ(WholeDecimal<std::int32_t>("-12"), -12);
  EXPECT_EQ(WholeDecimal<std::uint16_t>("65535"), 65535);
  for (const std::string_view refused : {"", "+4", " 4", "4 ", "4x", "0x10", "65536", "-1"}) {
    EXPECT_EQ(WholeDecimal<std::uint16_t>(refused), std::nullopt) << '"' << refused << '"';
  }
  EXPECT_EQ(WholeDecimal<std::int32_t>("2147483648"), std::nullopt);
}

} // namespace
} // namespace kv58
