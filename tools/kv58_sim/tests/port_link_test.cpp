#include "tools/kv58_sim/port_link.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/testing/scratch_dir.h"

namespace kv58::sim {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class PortLinkTest : public ::testing::Test {
protected:
  void SetUp() override {
    liveTarget = temp.Path() / "device";
    std::ofstream(liveTarget).put('x');
  }

  [[nodiscard]] fs::path Entry(std::string_view name) const { return directory / name; }
  void PlaceLink(std::string_view name, const fs::path& target) const {
    fs::create_directories(directory);
    fs::create_symlink(target, Entry(name));
  }

  kv58::testing::ScratchDir temp;
  fs::path directory = temp.Path() / "config" / "kv58" / "ports";
  fs::path liveTarget;
  std::string error;
};

TEST_F(PortLinkTest, CreatesTheDirectoryAndTheLinkAndRemovesItAgain) {
  PortLink link;
  ASSERT_TRUE(link.Create(directory, "COM201", liveTarget, error)) << error;
  EXPECT_EQ(link.Path(), Entry("COM201"));
  EXPECT_EQ(fs::read_symlink(Entry("COM201")), liveTarget);

  link.Remove();
  EXPECT_FALSE(fs::exists(fs::symlink_status(Entry("COM201"))));
  EXPECT_TRUE(fs::is_empty(directory)) << "no scratch entry left behind";
  link.Remove(); // a second time does nothing
}

TEST_F(PortLinkTest, GoingOutOfScopeRemovesTheLink) {
  {
    PortLink link;
    ASSERT_TRUE(link.Create(directory, "COM201", liveTarget, error)) << error;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(Entry("COM201"))));
}

TEST_F(PortLinkTest, ReplacesAStaleLink) {
  PlaceLink("COM201", temp.Path() / "gone");
  PortLink link;
  ASSERT_TRUE(link.Create(directory, "COM201", liveTarget, error)) << error;
  EXPECT_EQ(fs::read_symlink(Entry("COM201")), liveTarget);
}

TEST_F(PortLinkTest, TakesOverALinkThatAlreadyPointsAtItsTarget) {
  PlaceLink("COM201", liveTarget);
  PortLink link;
  ASSERT_TRUE(link.Create(directory, "COM201", liveTarget, error)) << error;
  EXPECT_EQ(fs::read_symlink(Entry("COM201")), liveTarget);
}

TEST_F(PortLinkTest, RefusesALinkToAnotherLiveTargetAndLeavesIt) {
  const fs::path other = temp.Path() / "other";
  std::ofstream(other).put('y');
  PlaceLink("COM201", other);

  PortLink link;
  EXPECT_FALSE(link.Create(directory, "COM201", liveTarget, error));
  EXPECT_THAT(error, HasSubstr("already points at " + other.string()));
  EXPECT_EQ(fs::read_symlink(Entry("COM201")), other);
  link.Remove();
  EXPECT_EQ(fs::read_symlink(Entry("COM201")), other) << "a refused link is not the simulator's to remove";
}

TEST_F(PortLinkTest, RefusesAnEntryThatIsNoLink) {
  fs::create_directories(directory);
  std::ofstream(Entry("COM201")).put('z');

  PortLink link;
  EXPECT_FALSE(link.Create(directory, "COM201", liveTarget, error));
  EXPECT_THAT(error, HasSubstr("is not a symbolic link"));
  EXPECT_TRUE(fs::is_regular_file(Entry("COM201")));
}

TEST_F(PortLinkTest, LeavesALinkThatSomeoneElseHasRepointed) {
  PortLink link;
  ASSERT_TRUE(link.Create(directory, "COM201", liveTarget, error)) << error;
  const fs::path other = temp.Path() / "other";
  fs::remove(Entry("COM201"));
  fs::create_symlink(other, Entry("COM201"));

  link.Remove();
  EXPECT_EQ(fs::read_symlink(Entry("COM201")), other);
}

TEST_F(PortLinkTest, ReportsADirectoryThatCannotBeMade) {
  std::ofstream(temp.Path() / "file").put('f');
  PortLink link;
  EXPECT_FALSE(link.Create(temp.Path() / "file" / "ports", "COM201", liveTarget, error));
  EXPECT_THAT(error, HasSubstr("cannot create"));
}

} // namespace
} // namespace kv58::sim
