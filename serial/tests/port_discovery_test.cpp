#include "serial/port_discovery.h"

#include <algorithm>
#include <array>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/errors.h"
#include "serial/testing/fake_port_source.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using testing::FakePortSource;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

int Sign(std::int32_t value) { return (value > 0) - (value < 0); }

struct CompareCase {
  const char* label;
  const char* first;
  const char* second;
  int sign; // of ComparePortNumbers(first, second)
};

class ComparePortNumbersTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(ComparePortNumbersTest, OrdersByTheNumberAfterTheThirdCharacter) {
  const auto& c = GetParam();
  const std::vector<std::string> list{c.first, c.second};
  EXPECT_EQ(Sign(ComparePortNumbers(list, 0, 1)), c.sign);
  EXPECT_EQ(Sign(ComparePortNumbers(list, 1, 0)), -c.sign) << "the comparison is antisymmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Names, ComparePortNumbersTest,
    ::testing::Values(CompareCase{"SmallerFirst", "COM1", "COM3", -1},
                      CompareCase{"NumbersNotText", "COM9", "COM10", -1},
                      CompareCase{"PrefixIsNotLookedAt", "COM2", "XYZ2", 0},
                      CompareCase{"EmptyNameCountsAsZero", "", "COM1", -1},
                      CompareCase{"ShortNameCountsAsZero", "CO", "COM1", -1},
                      CompareCase{"NoNumberCountsAsZero", "COMX", "COM1", -1},
                      CompareCase{"ComAloneEqualsComZero", "COM", "COM0", 0},
                      CompareCase{"TrailingBlankCountsAsZero", "COM7 ", "COM1", -1},
                      CompareCase{"LeadingBlankIsAllowed", "COM 7", "COM6", 1},
                      CompareCase{"Hexadecimal", "COM$10", "COM15", 1},
                      CompareCase{"NegativeBeforeZero", "COM-1", "COMX", -1},
                      // 16 characters after "COM" are read: 0000000000000012 is 12, while
                      // 00000000000000012 is cut to 0000000000000001.
                      CompareCase{"SixteenCharactersAreRead", "COM0000000000000012", "COM11", 1},
                      CompareCase{"SeventeenthCharacterIsCut", "COM00000000000000012", "COM2", -1},
                      CompareCase{"EndsOfTheRange", "COM2147483647", "COM-2147483648", 1},
                      CompareCase{"TopAgainstNegative", "COM2147483647", "COM-1", 1},
                      CompareCase{"BottomAgainstPositive", "COM-2147483648", "COM1", -1},
                      CompareCase{"OutOfRangeCountsAsZero", "COM2147483648", "COM1", -1}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(ComparePortNumbers, APositionOutsideTheListRaisesTheListIndexError) {
  const std::vector<std::string> list{"COM1"};
  EXPECT_THROW((void)ComparePortNumbers(list, 0, 1), ListIndexError);
  EXPECT_THROW((void)ComparePortNumbers(list, 3, 0), ListIndexError);
}

class ListSerialPortsTest : public ::testing::Test {
protected:
  FakePortSource source;
  std::vector<std::string> target;

  void AddPorts(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      source.AddText(std::string("\\Device\\Serial") + name, name);
    }
  }
};

TEST_F(ListSerialPortsTest, SortsByPortNumberWhateverTheEnumerationOrder) {
  std::array<const char*, 3> names{"COM1", "COM10", "COM3"};
  do {
    source.values.clear();
    AddPorts({names[0], names[1], names[2]});
    ListSerialPorts(source, target);
    EXPECT_THAT(target, ElementsAre("COM1", "COM3", "COM10"))
        << "enumerated as " << names[0] << ", " << names[1] << ", " << names[2];
  } while (std::next_permutation(names.begin(), names.end(),
                                 [](const char* a, const char* b) { return std::string_view(a) < b; }));
}

TEST_F(ListSerialPortsTest, NumbersAtBothEndsOfTheRangeSortWithoutOverflow) {
  AddPorts({"COM2147483647", "COM1", "COM-2147483648", "COM-1"});
  ListSerialPorts(source, target);
  EXPECT_THAT(target, ElementsAre("COM-2147483648", "COM-1", "COM1", "COM2147483647"));
}

TEST_F(ListSerialPortsTest, NamesWithoutANumberComeFirst) {
  AddPorts({"COM2", "", "COM1", "COMX"});
  ListSerialPorts(source, target);
  ASSERT_EQ(target.size(), 4u);
  EXPECT_THAT(std::vector(target.begin(), target.begin() + 2), UnorderedElementsAre("", "COMX"));
  EXPECT_THAT(std::vector(target.begin() + 2, target.end()), ElementsAre("COM1", "COM2"));
}

TEST_F(ListSerialPortsTest, OldEntriesAreReplacedAndARepeatedCallGivesTheSameList) {
  target = {"COM99", "stale"};
  AddPorts({"COM4", "COM2"});
  ListSerialPorts(source, target);
  EXPECT_THAT(target, ElementsAre("COM2", "COM4"));
  ListSerialPorts(source, target);
  EXPECT_THAT(target, ElementsAre("COM2", "COM4"));
  EXPECT_EQ(source.closeCount, 2);
  EXPECT_FALSE(source.KeyOpen());
}

TEST_F(ListSerialPortsTest, AMissingKeyLeavesTheTargetEmpty) {
  target = {"COM1"};
  AddPorts({"COM3"});
  source.keyMissing = true;
  ListSerialPorts(source, target);
  EXPECT_THAT(target, IsEmpty());
  EXPECT_THAT(source.readNames, IsEmpty());
}

TEST_F(ListSerialPortsTest, AKeyWithoutValuesLeavesTheTargetEmpty) {
  target = {"COM1"};
  ListSerialPorts(source, target);
  EXPECT_THAT(target, IsEmpty());
  EXPECT_EQ(source.closeCount, 1);
}

TEST_F(ListSerialPortsTest, AValueThatIsNotTextEndsTheListingWithTheNamesReadBefore) {
  target = {"COM77"};
  source.AddText("a", "COM9");
  source.AddText("b", "COM4");
  source.AddNonText("c");
  source.AddText("d", "COM1");
  source.AddText("e", "COM2");

  ListSerialPorts(source, target);

  EXPECT_THAT(target, ElementsAre("COM4", "COM9"));
  EXPECT_THAT(source.readNames, ElementsAre("a", "b", "c")) << "nothing is read after the failure";
  EXPECT_EQ(source.closeCount, 1) << "the key is closed on the failing path too";
  EXPECT_FALSE(source.KeyOpen());
}

} // namespace
} // namespace kv58
