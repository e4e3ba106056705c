#include "tools/kv58/ports_file.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "common/read_only_file.h"
#include "tools/kv58/command_line.h"

namespace kv58::cli {
namespace {

// The port and its name and tags from one line's words, or none.
std::optional<Display> DisplayOf(const std::vector<std::string>& words) {
  // "NAME PORT TAG...", or "PORT TAG..." without a name: the port is the second word, or the first.
  if (words.size() >= 2) {
    if (auto port = CommandLinePort(words[1])) {
      return Display{words.front(), *port, {words.begin() + 2, words.end()}, {}};
    }
  }
  if (auto port = CommandLinePort(words.front())) {
    return Display{port->Canonical(), *port, {words.begin() + 1, words.end()}, {}};
  }
  return std::nullopt;
}

} // namespace

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in{std::string(line)};
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

std::optional<std::string> ReadListFile(const std::string& path, const std::string& kind,
                                        std::size_t maxBytes, std::string& error) {
  std::error_code failed;
  const auto status = std::filesystem::status(path, failed);
  if (std::filesystem::is_directory(status)) {
    error = path + " is a folder, not " + kind;
    return std::nullopt;
  }
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    error = path + " is not a regular file (a FIFO, a device or a socket): give " + kind;
    return std::nullopt;
  }
  ReadOnlyFile source(path);
  const auto size = source.RegularFileSize();
  std::string text;
  if (!source.IsOpen() || !size) {
    error = path + ": " + (std::filesystem::exists(status) ? "cannot be read" : "no such file");
    return std::nullopt;
  }
  if (*size > maxBytes) {
    error = path + " holds more than " + std::to_string(maxBytes / 1024) + " KiB: not " + kind;
    return std::nullopt;
  }
  if (!source.ReadAtMost(maxBytes, text)) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  return text;
}

PortsFile ReadPortsFile(const std::string& path) {
  PortsFile file;
  std::string error;
  const auto text = ReadListFile(path, "a ports file", kMaxPortsFileBytes, error);
  if (!text) {
    file.error = std::move(error);
    return file;
  }
  std::istringstream lines(*text);
  std::size_t number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    const std::string where = path + ", line " + std::to_string(number);
    if (line.size() > kMaxPortsFileLineBytes) {
      file.error = where + ": longer than " + std::to_string(kMaxPortsFileLineBytes) + " bytes";
      return file;
    }
    const auto words = Words(std::string_view(line).substr(0, line.find('#')));
    if (words.empty()) {
      continue;
    }
    auto display = DisplayOf(words);
    if (!display) {
      file.error = where + ": expected a port, or a name and a port, then tags if any, such as \"hall-1 "
                           "rfc2217://10.0.0.5:4001 hall\"";
      return file;
    }
    display->source = where;
    file.displays.push_back(std::move(*display));
  }
  if (file.displays.empty()) {
    file.error = path + ": no port in it";
  }
  return file;
}

} // namespace kv58::cli
