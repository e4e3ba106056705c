// The command line the service manager is given, read back by the system's own reading of a
// command line. The service manager's side (install, start, stop, remove) is run under Wine by
// scripts/test-windows-service, with the installer and the real kv58.exe.

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/kv58/serve/service/service_command_line.h"

namespace kv58::serve {
namespace {

// Each quoted argument reads back whole through the system's own reading of a command line.
TEST(WindowsCommandLine, QuotedArgumentsReadBackWhole) {
  const std::vector<std::string> args{"plain",    "",          R"(C:\Program Files\kv58\)", R"(say "hi")",
                                      R"(a\\"b)", "tab\there", R"(\\server\share\x y)"};
  const std::wstring line = L"kv58.exe " + [&] {
    const std::string text = ServiceArguments(args);
    return std::wstring(text.begin(), text.end());
  }();
  int count = 0;
  LPWSTR* const read = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(count, static_cast<int>(args.size()) + 3);
  for (std::size_t i = 0; i < args.size(); ++i) {
    EXPECT_EQ(std::wstring(read[i + 3]), std::wstring(args[i].begin(), args[i].end())) << args[i];
  }
  (void)LocalFree(read);
}

} // namespace
} // namespace kv58::serve
