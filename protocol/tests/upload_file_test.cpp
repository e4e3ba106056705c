#include "protocol/upload_file.h"

#include <gtest/gtest.h>
#include <string>

#include "common/testing/scratch_dir.h"
#include "protocol/text_upload.h"

namespace kv58 {
namespace {

using Status = UploadFile::Status;
using testing::ScratchDir;

// Every byte value in turn, CR, LF, 0x00 and 0x1A among them.
std::string BytesOf(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7) % 256);
  }
  return bytes;
}

class UploadFileTest : public ::testing::Test {
protected:
  ScratchDir dir;
};

TEST_F(UploadFileTest, LongestFileIsLoadedByteForByte) {
  const std::string bytes = BytesOf(1983);
  const auto file = LoadUploadFile(dir.Write("longest.txt", bytes));
  EXPECT_EQ(file.status, Status::Loaded);
  EXPECT_EQ(file.size, 1983u);
  EXPECT_EQ(file.bytes, bytes);
}

TEST_F(UploadFileTest, LineEndsAndZeroBytesAreNotConverted) {
  const std::string bytes("a\r\nb\nc\rd\0e\x1A", 11);
  const auto file = LoadUploadFile(dir.Write("ends.txt", bytes));
  EXPECT_EQ(file.status, Status::Loaded);
  EXPECT_EQ(file.bytes, bytes);
  EXPECT_EQ(file.size, 11u);
}

TEST_F(UploadFileTest, OneByteOverTheLimitIsTooLongWithItsSizeAndNoBytes) {
  const auto file = LoadUploadFile(dir.Write("long.txt", BytesOf(kMaxTextBytes + 1)));
  EXPECT_EQ(file.status, Status::TooLong);
  EXPECT_EQ(file.size, 1984u);
  EXPECT_TRUE(file.bytes.empty());
}

TEST_F(UploadFileTest, EmptyFileIsLoadedAsTheEmptyText) {
  const auto file = LoadUploadFile(dir.Write("empty.txt", ""));
  EXPECT_EQ(file.status, Status::Loaded);
  EXPECT_EQ(file.size, 0u);
  EXPECT_TRUE(file.bytes.empty());
}

TEST_F(UploadFileTest, MissingFileIsUnreadableRatherThanEmpty) {
  const auto file = LoadUploadFile(dir.Path() / "typed name that does not exist.txt");
  EXPECT_EQ(file.status, Status::Unreadable);
  EXPECT_EQ(file.size, 0u);
  EXPECT_TRUE(file.bytes.empty());
}

TEST_F(UploadFileTest, DirectoryIsUnreadable) {
  const auto file = LoadUploadFile(dir.Path());
  EXPECT_EQ(file.status, Status::Unreadable);
  EXPECT_TRUE(file.bytes.empty());
}

TEST_F(UploadFileTest, NameWithNonAsciiLettersIsFound) {
  const std::string bytes = "zażółć";
  const auto file = LoadUploadFile(dir.Write(std::filesystem::path(u8"tekst żółty.txt"), bytes));
  EXPECT_EQ(file.status, Status::Loaded);
  EXPECT_EQ(file.bytes, bytes);
}

} // namespace
} // namespace kv58
