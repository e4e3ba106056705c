#include "tools/kv58/serve/service/api_token.h"

#include <array>
#include <cstdio>
#include <span>
#include <system_error>

#include "tools/kv58/serve/service/token_file.h"

namespace kv58::serve {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string HexOf(std::span<const unsigned char> bytes) {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    text += kDigits[byte >> 4U];
    text += kDigits[byte & 0xFU];
  }
  return text;
}

std::string AbsoluteText(const std::filesystem::path& path) {
  std::error_code ignored;
  const auto absolute = std::filesystem::absolute(path, ignored);
  return (absolute.empty() ? path : absolute).lexically_normal().string();
}

TokenLoad Refusal(std::string error) {
  TokenLoad load;
  load.error = std::move(error);
  return load;
}

TokenLoad Read(const std::filesystem::path& path) {
  TokenLoad load;
  load.path = AbsoluteText(path);
  std::string contents;
  std::string error;
  if (!detail::ReadOwnFile(path, kMaxTokenFileBytes, contents, error, load.warning)) {
    load.error = "the token file " + load.path + ": " + error;
    return load;
  }
  load.token = TokenOfText(contents, error);
  if (!load.token) {
    load.error = "the token file " + load.path + " " + error;
  }
  return load;
}

} // namespace

std::optional<std::string> TokenOfText(std::string_view text, std::string& error) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  if (text.empty()) {
    error = "holds no token";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte <= 0x20 || byte >= 0x7F) {
      std::array<char, 8> hex{};
      (void)std::snprintf(hex.data(), hex.size(), "%02X", static_cast<unsigned>(byte));
      error = "holds the byte " + std::string(hex.data()) + " at character " + std::to_string(i + 1) +
              ": a token is printable ASCII without spaces";
      return std::nullopt;
    }
  }
  if (text.size() < kMinTokenLength) {
    error = "holds a token of " + std::to_string(text.size()) + " characters; at least " +
            std::to_string(kMinTokenLength) + " are needed";
    return std::nullopt;
  }
  return std::string(text);
}

std::optional<std::filesystem::path> ConfigurationFolder(const Environment& environment) {
  return detail::PlatformConfigurationFolder(environment);
}

TokenLoad LoadOrCreateToken(const std::optional<std::string>& tokenFile, const Environment& environment) {
  if (tokenFile) {
    if (tokenFile->empty()) {
      return Refusal("--token-file needs a file name");
    }
    return Read(*tokenFile);
  }
  const auto folder = ConfigurationFolder(environment);
  if (!folder) {
#ifdef _WIN32
    return Refusal("no folder for the API token: APPDATA is not set; name a file with --token-file");
#else
    return Refusal("no folder for the API token: neither XDG_CONFIG_HOME nor HOME is set; name a file with "
                   "--token-file");
#endif
  }
  const auto path = *folder / kTokenFileName;
  std::error_code status;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, status))) {
    return Read(path);
  }

  TokenLoad load;
  load.path = AbsoluteText(path);
  std::array<unsigned char, kTokenRandomBytes> random{};
  std::string error;
  if (!detail::SystemRandomBytes(random, error)) {
    load.error = "no random bytes for the API token: " + error;
    return load;
  }
  if (!detail::MakeOwnFolder(*folder, error)) {
    load.error = "cannot make the folder of the API token " + AbsoluteText(*folder) + ": " + error;
    return load;
  }
  const std::string token = HexOf(random);
  switch (detail::PublishOwnFile(path, token + "\n", error)) {
  case detail::Publish::Made:
    load.token = token;
    load.created = true;
    return load;
  case detail::Publish::Exists: // another start made it between the look and the write
    return Read(path);
  case detail::Publish::Failed:
    break;
  }
  load.error = "cannot make the token file " + load.path + ": " + error;
  return load;
}

} // namespace kv58::serve
