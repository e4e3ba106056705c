// The API token through LoadOrCreateToken: made once in kv58's folder and kept, read from a
// named file, and every kind of file refused with its reason.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
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

// The environment that puts kv58's folder in `folder`, on either system.
Environment EnvironmentWithFolderIn(const std::filesystem::path& folder) {
#ifdef _WIN32
  return EnvironmentOf({{"APPDATA", folder.string()}});
#else
  return EnvironmentOf({{"XDG_CONFIG_HOME", folder.string()}});
#endif
}

void WriteFile(const std::filesystem::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

bool IsHex64(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
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
  const auto token = TokenOfText(GetParam().text, error);
  EXPECT_EQ(token, GetParam().token);
  EXPECT_THAT(error, HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TokenText,
    ::testing::Values(
        TextCase{"Plain", "0123456789abcdef", "0123456789abcdef", ""},
        TextCase{"SpaceAroundTrimmed", " \t0123456789abcdef\r\n\n", "0123456789abcdef", ""},
        TextCase{"Symbols", "A-b_c.d~e+f/g=h!", "A-b_c.d~e+f/g=h!", ""},
        TextCase{"Empty", "", std::nullopt, "holds no token"},
        TextCase{"OnlyWhiteSpace", " \n\r\n", std::nullopt, "holds no token"},
        TextCase{"FifteenCharacters", "0123456789abcde\n", std::nullopt, "of 15 characters; at least 16"},
        TextCase{"SpaceInside", "01234567 89abcdef", std::nullopt, "byte 20 at character 9"},
        TextCase{"TwoLines", "0123456789abcdef\n0123456789abcdef", std::nullopt, "byte 0A at character 17"},
        TextCase{"NotAscii", "0123456789abcdef\xC3\xA9", std::nullopt, "byte C3 at character 17"},
        TextCase{"NulByte", std::string("0123456789\0abcdef", 17), std::nullopt, "byte 00 at character 11"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ApiToken, MadeOnceInKv58sFolderThenReadBack) {
  const testing::ScratchDir scratch;
  const auto environment = EnvironmentWithFolderIn(scratch.Path());

  const TokenLoad first = LoadOrCreateToken(std::nullopt, environment);
  ASSERT_TRUE(first.token) << first.error;
  EXPECT_TRUE(first.created);
  EXPECT_TRUE(IsHex64(*first.token)) << *first.token;
  EXPECT_EQ(std::filesystem::path(first.path), scratch / "kv58" / "serve-token");
  // Nothing but the token is left behind in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch / "kv58"), {}), 1);

  const TokenLoad second = LoadOrCreateToken(std::nullopt, environment);
  ASSERT_TRUE(second.token) << second.error;
  EXPECT_FALSE(second.created);
  EXPECT_EQ(second.token, first.token);

  const TokenLoad elsewhere = LoadOrCreateToken(std::nullopt, EnvironmentWithFolderIn(scratch / "other"));
  ASSERT_TRUE(elsewhere.token) << elsewhere.error;
  EXPECT_NE(elsewhere.token, first.token);
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
  std::set<std::string> tokens;
  int created = 0;
  for (const auto& load : loads) {
    ASSERT_TRUE(load.token) << load.error;
    tokens.insert(*load.token);
    created += load.created ? 1 : 0;
  }
  EXPECT_EQ(tokens.size(), 1U);
  EXPECT_EQ(created, 1);
}

TEST(ApiToken, NamedFileIsReadAndNeverMade) {
  const testing::ScratchDir scratch;
  const auto environment = EnvironmentWithFolderIn(scratch.Path());
  const auto file = scratch / "my-token";
  WriteFile(file, "  correct-horse-battery-staple\n");
#ifndef _WIN32
  std::filesystem::permissions(file,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
  const TokenLoad load = LoadOrCreateToken(file.string(), environment);
  EXPECT_EQ(load.token, "correct-horse-battery-staple") << load.error;
  EXPECT_FALSE(load.created);
  EXPECT_EQ(std::filesystem::path(load.path), file);

  const TokenLoad missing = LoadOrCreateToken((scratch / "absent").string(), environment);
  EXPECT_FALSE(missing.token);
  EXPECT_THAT(missing.error, HasSubstr((scratch / "absent").string()));
  EXPECT_FALSE(std::filesystem::exists(scratch / "absent"));
  EXPECT_FALSE(std::filesystem::exists(scratch / "kv58"));
}

TEST(ApiToken, UnfitFilesAreRefusedWithTheirReason) {
  const testing::ScratchDir scratch;
  const auto environment = EnvironmentWithFolderIn(scratch.Path());
  const auto ownOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  struct Row {
    const char* file;
    std::string contents;
    const char* error;
  };
  const Row rows[] = {{"short", "tooshort\n", "at least 16"},
                      {"large", std::string(kMaxTokenFileBytes + 1, 'a'), "larger than 4096 bytes"},
                      {"empty", "", "holds no token"}};
  for (const Row& row : rows) {
    WriteFile(scratch / row.file, row.contents);
    std::filesystem::permissions(scratch / row.file, ownOnly);
    const TokenLoad load = LoadOrCreateToken((scratch / row.file).string(), environment);
    EXPECT_FALSE(load.token) << row.file;
    EXPECT_THAT(load.error, HasSubstr(row.error)) << row.file;
  }
  std::filesystem::create_directory(scratch / "folder");
  EXPECT_FALSE(LoadOrCreateToken((scratch / "folder").string(), environment).token);
  EXPECT_THAT(LoadOrCreateToken("", environment).error, HasSubstr("--token-file needs a file name"));
}

// A damaged token in kv58's folder is reported, never replaced by a new one.
TEST(ApiToken, DamagedKeptTokenIsReportedNotReplaced) {
  const testing::ScratchDir scratch;
  std::filesystem::create_directories(scratch / "kv58");
  WriteFile(scratch / "kv58" / "serve-token", "x\n");
  std::filesystem::permissions(scratch / "kv58" / "serve-token",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const TokenLoad load = LoadOrCreateToken(std::nullopt, EnvironmentWithFolderIn(scratch.Path()));
  EXPECT_FALSE(load.token);
  EXPECT_THAT(load.error, HasSubstr("serve-token holds a token of 1 characters"));
  std::ifstream kept(scratch / "kv58" / "serve-token");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "x\n");
}

#ifndef _WIN32

TEST(ApiTokenPosix, MadeFileAndFolderAreTheOwnersAlone) {
  const testing::ScratchDir scratch;
  const auto folder = scratch / "config" / "kv58";
  const TokenLoad load =
      LoadOrCreateToken(std::nullopt, EnvironmentOf({{"XDG_CONFIG_HOME", (scratch / "config").string()}}));
  ASSERT_TRUE(load.token) << load.error;
  struct stat file {};
  struct stat made {};
  ASSERT_EQ(::stat(load.path.c_str(), &file), 0);
  ASSERT_EQ(::stat(folder.c_str(), &made), 0);
  EXPECT_EQ(file.st_mode & 07777U, 0600U);
  EXPECT_EQ(made.st_mode & 07777U, 0700U);
}

TEST(ApiTokenPosix, FileOthersMayReadIsRefusedGroupIsWarned) {
  const testing::ScratchDir scratch;
  const auto file = scratch / "token";
  WriteFile(file, "0123456789abcdef0123\n");
  const auto environment = EnvironmentOf({});

  ::chmod(file.c_str(), 0644);
  const TokenLoad shared = LoadOrCreateToken(file.string(), environment);
  EXPECT_FALSE(shared.token);
  EXPECT_THAT(shared.error, HasSubstr("other users may read or write it (mode 0644); chmod 600"));

  ::chmod(file.c_str(), 0640);
  const TokenLoad group = LoadOrCreateToken(file.string(), environment);
  EXPECT_EQ(group.token, "0123456789abcdef0123") << group.error;
  EXPECT_THAT(group.warning, HasSubstr("may be read or written by its group"));

  ::chmod(file.c_str(), 0400);
  const TokenLoad own = LoadOrCreateToken(file.string(), environment);
  EXPECT_TRUE(own.token) << own.error;
  EXPECT_EQ(own.warning, "");
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
        FolderCase{"Home", {{"HOME", "/h"}}, "/h/.config/kv58"},
        FolderCase{"RelativeValuesPassedOver",
                   {{"STATE_DIRECTORY", "state"}, {"XDG_CONFIG_HOME", "config"}, {"HOME", "/h"}},
                   "/h/.config/kv58"},
        FolderCase{"None", {{"HOME", ""}}, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ApiTokenPosix, NoFolderSaysWhatToSet) {
  const TokenLoad load = LoadOrCreateToken(std::nullopt, EnvironmentOf({}));
  EXPECT_FALSE(load.token);
  EXPECT_THAT(load.error,
              HasSubstr("neither XDG_CONFIG_HOME nor HOME is set; name a file with --token-file"));
}

#endif

} // namespace
} // namespace kv58::serve
