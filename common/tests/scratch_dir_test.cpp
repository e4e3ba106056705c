#include "common/testing/scratch_dir.h"

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace kv58 {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(fs::file_size(file)), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

TEST(ScratchDir, EachTestGetsAnEmptyFolderOfItsOwnAndFilesWrittenByteForByte) {
  const ScratchDir one;
  const ScratchDir other;
  EXPECT_NE(one.Path(), other.Path());
  ASSERT_TRUE(fs::is_directory(one.Path()));
  EXPECT_TRUE(fs::is_empty(one.Path()));

  const std::string bytes("\0\r\n\x1a\xff", 5);
  EXPECT_EQ(ReadAll(one.Write("bytes.bin", bytes)), bytes);
  EXPECT_EQ(ReadAll(one.Write("bytes.bin", "short")), "short") << "a second write replaces the file";
  EXPECT_EQ(fs::file_size(one.Touch("empty.txt")), 0u);
  EXPECT_EQ(one / "bytes.bin", one.Path() / "bytes.bin");
}

// Tests take permissions away; the folder goes all the same, for users other than root and
// on Windows, where a read-only file cannot be deleted.
TEST(ScratchDir, GoesWithEverythingInItAlsoWhatATestMadeReadOnly) {
  fs::path folder;
  {
    const ScratchDir scratch;
    folder = scratch.Path();
    fs::create_directories(scratch / "locked" / "deeper");
    const auto file = scratch.Write(fs::path("locked") / "deeper" / "read-only.txt", "x");
    fs::permissions(file, fs::perms::owner_read, fs::perm_options::replace);
    fs::permissions(scratch / "locked" / "deeper", fs::perms::owner_read | fs::perms::owner_exec,
                    fs::perm_options::replace);
    fs::permissions(scratch / "locked", fs::perms::owner_read | fs::perms::owner_exec,
                    fs::perm_options::replace);
  }
  EXPECT_FALSE(fs::exists(folder));
}

} // namespace
} // namespace kv58
