// The service options of `kv58 serve`, the command line the service manager is given, and
// the service's log file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <vector>

#include "common/testing/scratch_dir.h"
#include "tools/kv58/serve/service/service_command_line.h"
#include "tools/kv58/serve/service/service_log.h"

namespace kv58::serve {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

struct RequestCase {
  const char* name;
  std::vector<std::string_view> args;
  ServiceRequest::Mode mode;
  std::vector<std::string> serveArgs;
  const char* error;
};

class Request : public ::testing::TestWithParam<RequestCase> {};

TEST_P(Request, TakesTheServiceOptionOut) {
  const ServiceRequest request = ServiceRequestOf(GetParam().args);
  EXPECT_EQ(request.mode, GetParam().mode);
  EXPECT_THAT(request.serveArgs, ElementsAreArray(GetParam().serveArgs));
  EXPECT_THAT(request.error, HasSubstr(GetParam().error));
  EXPECT_EQ(request.error.empty(), std::string_view(GetParam().error).empty());
}

using Mode = ServiceRequest::Mode;
INSTANTIATE_TEST_SUITE_P(
    Rows, Request,
    ::testing::Values(
        RequestCase{"PlainServe", {"--ports-file", "p"}, Mode::None, {"--ports-file", "p"}, ""},
        RequestCase{
            "RunAnywhereInTheLine", {"--ports-file", "p", "--service"}, Mode::Run, {"--ports-file", "p"}, ""},
        RequestCase{"UninstallWithOptions",
                    {"--uninstall-service", "--ports-file", "p"},
                    Mode::Uninstall,
                    {"--ports-file", "p"},
                    "--uninstall-service takes no other option (--ports-file was given)"},
        RequestCase{"TwoModes",
                    {"--install-service", "--uninstall-service"},
                    Mode::Uninstall,
                    {},
                    "--install-service and --uninstall-service cannot be given together"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ServiceCommandLine, FileOptionsBecomeAbsolute) {
  const std::filesystem::path folder = std::filesystem::current_path() / "here";
  const std::vector<std::string> given{
      "--ports-file",  "ports",        "--schedule=../s/sched",   "--token-file", "", "--port",
      "relative-name", "--token-file", (folder / "abs").string(), "--ports-file"};
  EXPECT_THAT(WithAbsolutePaths(given, folder),
              ElementsAre("--ports-file", (folder / "ports").string(),
                          "--schedule=" + (folder.parent_path() / "s" / "sched").string(), "--token-file", "",
                          "--port", "relative-name", "--token-file", (folder / "abs").string(),
                          "--ports-file"));
}

std::vector<std::string> LinesOf(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Whether `line` is the local time and then `rest` (std::regex: GoogleTest's own is a small
// subset on Windows).
bool Stamped(const std::string& line, const std::string& rest = ".*") {
  return std::regex_match(line,
                          std::regex(R"([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} )" + rest));
}

TEST(ServiceLog, LinesAreStampedAppendedAndBounded) {
  const testing::ScratchDir scratch;
  const auto path = scratch / "serve.log";
  {
    std::ofstream(path, std::ios::binary) << "from before\n";
    RotatingLog log(path, 200);
    ASSERT_TRUE(log.IsOpen()) << log.Error();
    std::ostream stream(&log);
    stream << "first " << 1 << "\nsecond, in ";
    stream << "two writes\n" << std::flush;
  }
  const auto lines = LinesOf(path);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0], "from before");
  EXPECT_TRUE(Stamped(lines[1], "first 1")) << lines[1];
  EXPECT_TRUE(Stamped(lines[2], "second, in two writes")) << lines[2];

  // Past the limit the file moves to serve.log.1 at a line's end, while running and at start.
  {
    RotatingLog log(path, 200);
    std::ostream stream(&log);
    for (int i = 0; i < 20; ++i) {
      stream << "line " << i << " " << std::string(20, 'x') << "\n";
    }
  }
  const auto older = scratch / "serve.log.1";
  ASSERT_TRUE(std::filesystem::exists(older));
  EXPECT_LE(std::filesystem::file_size(path), 250U);
  EXPECT_LE(std::filesystem::file_size(older), 250U);
  EXPECT_THAT(LinesOf(path).back(), HasSubstr("line 19 "));
  for (const auto& line : LinesOf(older)) {
    EXPECT_TRUE(Stamped(line)) << "a line cut in two: " << line;
  }
  EXPECT_THAT(LinesOf(older).front(), ::testing::Not(HasSubstr("from before")));
}

} // namespace
} // namespace kv58::serve
