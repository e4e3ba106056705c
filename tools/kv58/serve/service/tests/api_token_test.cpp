// The API token through LoadOrCreateToken: made once in kv58's folder and kept, read from a
// named file, and unfit files refused with their reason.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "common/testing/scratch_dir.h"
#include "tools/kv58/serve/service/api_token.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kv58::serve {
namespace {

using ::testing::HasSubstr;

Environment EnvironmentOf(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    const auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
}

// The environment that puts kv58's folder in `folder`/kv58, on either system.
Environment EnvironmentWithFolderIn(const std::filesystem::path& folder) {
#ifdef _WIN32
  return EnvironmentOf({{"APPDATA", folder.string()}});
#else
  return EnvironmentOf({{"XDG_CONFIG_HOME", folder.string()}});
#endif
}

// A file only its owner may read and write.
void WriteOwnFile(const std::filesystem::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
  std::filesystem::permissions(path,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

struct TextCase {
  const char* name;
  std::string text;
  std::optional<std::string> token;
  const char* error;
};

class TokenText : public ::testing::TestWithParam<TextCase> {};

TEST_P(TokenText, IsTrimmedAndChecked) {
  std::string error;
  EXPECT_EQ(TokenOfText(GetParam().text, error), GetParam().token);
  EXPECT_THAT(error, HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TokenText,
    ::testing::Values(
        TextCase{"SpaceAroundTrimmed", " \t0123456789abcdef\r\n\n", "0123456789abcdef", ""},
        TextCase{"OnlyWhiteSpace", " \n\r\n", std::nullopt, "holds no token"},
        TextCase{"FifteenCharacters", "0123456789abcde\n", std::nullopt, "of 15 characters; at least 16"},
        TextCase{"SpaceInside", "01234567 89abcdef", std::nullopt, "byte 20 at character 9"},
        TextCase{"NotAscii", "0123456789abcdef\xC3\xA9", std::nullopt, "byte C3 at character 17"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ApiToken, MadeOnceInKv58sFolderThenReadBack) {
  const testing::ScratchDir scratch;
  const auto environment = EnvironmentWithFolderIn(scratch.Path());
  const TokenLoad first = LoadOrCreateToken(std::nullopt, environment);
  ASSERT_TRUE(first.token) << first.error;
  EXPECT_TRUE(first.created);
  EXPECT_TRUE(std::regex_match(*first.token, std::regex("[0-9a-f]{64}"))) << *first.token;
  EXPECT_EQ(std::filesystem::path(first.path), scratch / "kv58" / "serve-token");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch / "kv58"), {}), 1)
      << "a draft left behind";

  const TokenLoad second = LoadOrCreateToken(std::nullopt, environment);
  EXPECT_FALSE(second.created);
  EXPECT_EQ(second.token, first.token) << second.error;
}

// Starts at once agree on one token: one makes it, the others read what it made whole.
TEST(ApiToken, StartsAtOnceShareOneToken) {
  const testing::ScratchDir scratch;
  const auto environment = EnvironmentWithFolderIn(scratch.Path());
  std::vector<TokenLoad> loads(8);
  {
    std::vector<std::jthread> starts;
    for (auto& load : loads) {
      starts.emplace_back([&load, &environment] { load = LoadOrCreateToken(std::nullopt, environment); });
    }
  }
  std::set<std::optional<std::string>> tokens;
  int created = 0;
  std::string errors;
  for (const auto& load : loads) {
    tokens.insert(load.token);
    created += load.created ? 1 : 0;
    errors += load.error.empty() ? "" : load.error + "\n";
  }
  EXPECT_EQ(tokens.size(), 1U) << errors;
  EXPECT_TRUE(*tokens.begin()) << errors;
  EXPECT_EQ(created, 1);
}

// A named file is read as it is, never made; a damaged token in kv58's folder is reported,
// never replaced by a new one.
TEST(ApiToken, FilesAreReadOrRefusedWithTheirReason) {
  const testing::ScratchDir scratch;
  const auto environment = EnvironmentWithFolderIn(scratch.Path());
  WriteOwnFile(scratch / "mine", "  correct-horse-battery-staple\n");
  WriteOwnFile(scratch / "large", std::string(kMaxTokenFileBytes + 1, 'a'));
  std::filesystem::create_directories(scratch / "kv58");
  WriteOwnFile(scratch / "kv58" / "serve-token", "x\n");

  const TokenLoad mine = LoadOrCreateToken((scratch / "mine").string(), environment);
  EXPECT_EQ(mine.token, "correct-horse-battery-staple") << mine.error;
  EXPECT_EQ(std::filesystem::path(mine.path), scratch / "mine");

  const std::pair<std::optional<std::string>, std::string> refused[] = {
      {(scratch / "large").string(), "larger than 4096 bytes"},
      {(scratch / "absent").string(), (scratch / "absent").string()},
      {std::nullopt, "serve-token holds a token of 1 characters"}};
  for (const auto& [file, error] : refused) {
    const TokenLoad load = LoadOrCreateToken(file, environment);
    EXPECT_FALSE(load.token) << error;
    EXPECT_THAT(load.error, HasSubstr(error));
  }
  EXPECT_FALSE(std::filesystem::exists(scratch / "absent"));
  std::ostringstream kept; // not istreambuf_iterator: GCC 12 warns of it when optimising
  kept << std::ifstream(scratch / "kv58" / "serve-token").rdbuf();
  EXPECT_EQ(kept.str(), "x\n");
}

#ifndef _WIN32

TEST(ApiTokenPosix, ModesOfMadeAndReadFiles) {
  const testing::ScratchDir scratch;
  const TokenLoad load =
      LoadOrCreateToken(std::nullopt, EnvironmentOf({{"XDG_CONFIG_HOME", scratch.Path().string()}}));
  ASSERT_TRUE(load.token) << load.error;
  struct stat file {};
  struct stat folder {};
  ASSERT_EQ(::stat(load.path.c_str(), &file), 0);
  ASSERT_EQ(::stat((scratch / "kv58").c_str(), &folder), 0);
  EXPECT_EQ(file.st_mode & 07777U, 0600U);
  EXPECT_EQ(folder.st_mode & 07777U, 0700U);

  // One that others may read is refused; one the group may read, read with a warning.
  ::chmod(load.path.c_str(), 0644);
  const TokenLoad shared = LoadOrCreateToken(load.path, EnvironmentOf({}));
  EXPECT_FALSE(shared.token);
  EXPECT_THAT(shared.error, HasSubstr("other users may read or write it (mode 0644); chmod 600"));
  ::chmod(load.path.c_str(), 0640);
  const TokenLoad group = LoadOrCreateToken(load.path, EnvironmentOf({}));
  EXPECT_EQ(group.token, load.token) << group.error;
  EXPECT_THAT(group.warning, HasSubstr("may be read or written by its group"));
}

struct FolderCase {
  const char* name;
  std::map<std::string, std::string> environment;
  std::optional<std::string> folder;
};

class Folder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(Folder, FollowsTheEnvironment) {
  const auto folder = ConfigurationFolder(EnvironmentOf(GetParam().environment));
  EXPECT_EQ(folder ? std::optional<std::string>(folder->string()) : std::nullopt, GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Folder,
    ::testing::Values(
        FolderCase{
            "SystemdStateFirst",
            {{"STATE_DIRECTORY", "/var/lib/kv58:/var/lib/other"}, {"XDG_CONFIG_HOME", "/x"}, {"HOME", "/h"}},
            "/var/lib/kv58"},
        FolderCase{"XdgConfigHome", {{"XDG_CONFIG_HOME", "/x"}, {"HOME", "/h"}}, "/x/kv58"},
        FolderCase{"RelativeValuesPassedOver",
                   {{"STATE_DIRECTORY", "state"}, {"XDG_CONFIG_HOME", "config"}, {"HOME", "/h"}},
                   "/h/.config/kv58"},
        FolderCase{"None", {{"HOME", ""}}, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

#endif

} // namespace
} // namespace kv58::serve
