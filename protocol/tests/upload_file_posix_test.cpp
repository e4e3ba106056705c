// What only a POSIX system can set up: sparse files, device nodes, FIFOs, symlinks and file
// modes. Whether a file was read is told by the kernel's count of bytes this process has read.

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/read_only_file.h"
#include "common/testing/scratch_dir.h"
#include "protocol/text_upload.h"
#include "protocol/upload_file.h"

namespace kv58 {
namespace {

using Status = UploadFile::Status;
using testing::ScratchDir;

// Reading /proc/self/io itself counts as reading too, a hundred-odd bytes; far less than a page.
constexpr std::uint64_t kCounterNoise = 512;

std::optional<std::uint64_t> BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") {
      return value;
    }
  }
  return std::nullopt;
}

// How many bytes `action` read through the kernel, or nothing when the counter is not available.
std::optional<std::uint64_t> BytesReadBy(const std::function<void()>& action) {
  const auto before = BytesReadSoFar();
  action();
  const auto after = BytesReadSoFar();
  if (!before || !after) {
    return std::nullopt;
  }
  return *after - *before;
}

class UploadFilePosixTest : public ::testing::Test {
protected:
  ScratchDir dir;

  void ExpectReadAtMost(const std::optional<std::uint64_t>& read, std::uint64_t limit) {
    if (!read) {
      GTEST_SKIP() << "/proc/self/io is not available, so reading cannot be observed";
    }
    EXPECT_LE(*read, limit + kCounterNoise);
  }
};

TEST_F(UploadFilePosixTest, FileOverTheLimitIsNotRead) {
  const auto path = dir.Write("long.txt", std::string(5000, 'x'));
  UploadFile file;
  const auto read = BytesReadBy([&] { file = LoadUploadFile(path); });
  EXPECT_EQ(file.status, Status::TooLong);
  EXPECT_EQ(file.size, 5000u);
  ExpectReadAtMost(read, 0);
}

TEST_F(UploadFilePosixTest, FourGibibyteSparseFileIsTooLongWithoutBeingReadOrHeld) {
  const auto path = dir.Path() / "huge.txt";
  const std::uint64_t huge = std::uint64_t{4} << 30;
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(huge)), 0);
  ASSERT_EQ(::close(fd), 0);

  UploadFile file;
  const auto read = BytesReadBy([&] { file = LoadUploadFile(path); });

  EXPECT_EQ(file.status, Status::TooLong);
  EXPECT_EQ(file.size, huge);
  EXPECT_LE(file.bytes.capacity(), kMaxTextBytes + 1);
  ExpectReadAtMost(read, 0);
}

TEST_F(UploadFilePosixTest, EndlessDeviceIsRefusedWithoutReadingIt) {
  UploadFile file;
  const auto read = BytesReadBy([&] { file = LoadUploadFile("/dev/zero"); });
  EXPECT_EQ(file.status, Status::Unreadable);
  EXPECT_TRUE(file.bytes.empty());
  ExpectReadAtMost(read, 0);
}

TEST_F(UploadFilePosixTest, FifoWithoutWriterIsRefusedInsteadOfWaitedOn) {
  const auto path = dir.Path() / "pipe";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(LoadUploadFile(path).status, Status::Unreadable);
}

TEST_F(UploadFilePosixTest, SymlinkIsFollowedToWhatItNames) {
  const auto target = dir.Write("target.txt", "tekst");
  ASSERT_EQ(::symlink(target.c_str(), (dir.Path() / "to_file").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir.Path() / "to_device").c_str()), 0);

  const auto file = LoadUploadFile(dir.Path() / "to_file");
  EXPECT_EQ(file.status, Status::Loaded);
  EXPECT_EQ(file.bytes, "tekst");
  EXPECT_EQ(LoadUploadFile(dir.Path() / "to_device").status, Status::Unreadable);
}

TEST_F(UploadFilePosixTest, FileWithoutReadPermissionIsUnreadable) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root reads a file whatever its mode; run as an ordinary user to check this";
  }
  const auto path = dir.Write("locked.txt", "tekst");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  const auto file = LoadUploadFile(path);
  EXPECT_EQ(file.status, Status::Unreadable);
  EXPECT_TRUE(file.bytes.empty());
}

TEST_F(UploadFilePosixTest, ReadStopsAtTheLimitEvenWhenTheFileGrewAfterItsSizeWasTaken) {
  const auto path = dir.Write("growing.txt", std::string(100, 'a'));
  ReadOnlyFile file(path);
  ASSERT_EQ(file.RegularFileSize(), std::optional<std::uint64_t>(100));
  dir.Write("growing.txt", std::string(1 << 20, 'b'));

  std::string bytes;
  const auto read = BytesReadBy([&] { ASSERT_TRUE(file.ReadAtMost(kMaxTextBytes + 1, bytes)); });

  EXPECT_EQ(bytes.size(), kMaxTextBytes + 1);
  ExpectReadAtMost(read, kMaxTextBytes + 1);
}

TEST_F(UploadFilePosixTest, ShrunkenFileGivesWhatIsThere) {
  const auto path = dir.Write("shrinking.txt", std::string(1000, 'a'));
  ReadOnlyFile file(path);
  ASSERT_EQ(file.RegularFileSize(), std::optional<std::uint64_t>(1000));
  ASSERT_EQ(::truncate(path.c_str(), 10), 0);

  std::string bytes;
  ASSERT_TRUE(file.ReadAtMost(kMaxTextBytes + 1, bytes));
  EXPECT_EQ(bytes, std::string(10, 'a'));
}

} // namespace
} // namespace kv58
