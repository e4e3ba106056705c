// What --send-file takes: regular files up to the cap that --help states, nothing that would
// block the start or never end.

#include "tools/kv58_sim/push_file.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/testing/scratch_dir.h"
#include "tools/kv58_sim/sim_options.h"

namespace kv58::sim {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(PushFile, TakesRegularFilesUpToTheCapAndRefusesAnythingElseWithItsReason) {
  const kv58::testing::ScratchDir temp;
  const auto fileOfSize = [&](const std::string& name, std::uintmax_t size) {
    std::ofstream(temp.Path() / name, std::ios::binary) << "OK";
    fs::resize_file(temp.Path() / name, size);
    return temp.Path() / name;
  };
  const fs::path fifo = temp.Path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // no writer: opening it for reading would block
  fs::create_directory(temp.Path() / "folder");
  struct Case {
    fs::path path;
    std::string refusal; // empty: taken
  };
  for (const auto& [path, refusal] :
       {Case{fileOfSize("small", 2), ""}, Case{fileOfSize("cap", kMostPushFileBytes), ""},
        Case{temp.Path() / "missing", "cannot open"}, Case{temp.Path() / "folder", "not a regular file"},
        Case{fifo, "not a regular file"}, Case{"/dev/zero", "not a regular file"},
        Case{fileOfSize("over", kMostPushFileBytes + 1), "at most " + std::to_string(kMostPushFileBytes)}}) {
    std::string bytes = "before:";
    std::string error;
    EXPECT_EQ(LoadPushFile(path, bytes, error), refusal.empty()) << path << ": " << error;
    EXPECT_THAT(error, HasSubstr(refusal)) << path;
    EXPECT_EQ(bytes.size(), refusal.empty() ? 7 + fs::file_size(path) : 7) << path;
  }
}

TEST(PushFileHelp, StatesTheCap) {
  EXPECT_THAT(UsageText(), HasSubstr("at most " + std::to_string(kMostPushFileBytes) + " bytes"));
}

} // namespace
} // namespace kv58::sim
