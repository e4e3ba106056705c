// Windows names that open devices rather than files.

#include <gtest/gtest.h>

#include "protocol/upload_file.h"

namespace kv58 {
namespace {

using Status = UploadFile::Status;

TEST(UploadFileWin32, DeviceNamesAreRefusedAsUnreadable) {
  for (const char* name : {"NUL", "CON", "\\\\.\\NUL"}) {
    const auto file = LoadUploadFile(name);
    EXPECT_EQ(file.status, Status::Unreadable) << name;
    EXPECT_TRUE(file.bytes.empty()) << name;
  }
}

} // namespace
} // namespace kv58
