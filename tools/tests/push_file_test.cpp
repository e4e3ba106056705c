// What --send-file takes: regular files up to the cap that --help states, nothing that would
// block the start or never end.

#include "tools/kv58_sim/push_file.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tools/kv58_sim/sim_options.h"
#include "tools/testing/scratch_dir.h"

namespace kv58::sim {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class PushFileTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(temp.IsMade()); }

  [[nodiscard]] fs::path FileOfSize(const std::string& name, std::uintmax_t size) const {
    const fs::path path = temp.Path() / name;
    std::ofstream(path, std::ios::binary) << "OK";
    fs::resize_file(path, size);
    return path;
  }

  test_support::ScratchDir temp;
  std::string bytes = "before:";
  std::string error;
};

TEST_F(PushFileTest, ARegularFileUpToTheCapIsAppended) {
  EXPECT_TRUE(LoadPushFile(FileOfSize("small", 2), bytes, error)) << error;
  EXPECT_EQ(bytes, "before:OK");
  std::string whole;
  EXPECT_TRUE(LoadPushFile(FileOfSize("cap", kMostPushFileBytes), whole, error)) << error;
  EXPECT_EQ(whole.size(), kMostPushFileBytes);
}

TEST_F(PushFileTest, AnythingElseIsRefusedWithItsReason) {
  const fs::path fifo = temp.Path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // no writer: opening it for reading would block
  fs::create_directory(temp.Path() / "folder");
  struct Case {
    fs::path path;
    std::string reason;
  };
  for (const auto& [path, reason] :
       {Case{temp.Path() / "missing", "cannot open"}, Case{temp.Path() / "folder", "not a regular file"},
        Case{fifo, "not a regular file"}, Case{"/dev/zero", "not a regular file"},
        Case{FileOfSize("over", kMostPushFileBytes + 1), "at most " + std::to_string(kMostPushFileBytes)}}) {
    error.clear();
    EXPECT_FALSE(LoadPushFile(path, bytes, error)) << path;
    EXPECT_THAT(error, HasSubstr(reason)) << path;
    EXPECT_EQ(bytes, "before:") << path << ": nothing appended";
  }
}

TEST(PushFileHelp, StatesTheCap) {
  EXPECT_THAT(UsageText(), HasSubstr("at most " + std::to_string(kMostPushFileBytes) + " bytes"));
}

} // namespace
} // namespace kv58::sim
