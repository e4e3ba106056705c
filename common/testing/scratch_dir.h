#pragma once
// A fresh folder of a test's own under the system's temporary folder, removed with
// everything in it when the test is done. Tests of every layer use it, on POSIX and under
// Wine alike, so it stands on std::filesystem alone.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace kv58::testing {

class ScratchDir {
public:
  // Throws when no folder can be made: a test without its folder cannot mean anything.
  ScratchDir() {
    const auto parent = std::filesystem::temp_directory_path();
    std::random_device random;
    // create_directory says false when the name is taken, so two tests (or two runs of the
    // same test at once) never share a folder.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto candidate =
          parent / ("kv58-test-" + std::to_string((std::uint64_t{random()} << 32U) | random()));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("no free scratch folder name under " + parent.string());
  }

  // Tests take permissions away (a folder or file nobody may read, a read-only file that
  // Windows will not delete); they are given back to the owner so everything goes.
  ~ScratchDir() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto entry =
             fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
         entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
      if (!entry->is_symlink(ignored)) {
        fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ScratchDir(ScratchDir&&) = delete;
  ScratchDir& operator=(ScratchDir&&) = delete;

  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  [[nodiscard]] std::filesystem::path operator/(const std::filesystem::path& name) const {
    return path_ / name;
  }

  // A new file `name` holding exactly `bytes` (binary, replacing one of that name); its path.
  std::filesystem::path Write(const std::filesystem::path& name, std::string_view bytes) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      throw std::runtime_error("cannot write " + file.string());
    }
    return file;
  }
  // An empty file `name`; its path.
  std::filesystem::path Touch(const std::filesystem::path& name) const { return Write(name, {}); }
  // A symbolic link `name` to `target`; its path.
  std::filesystem::path Link(const std::filesystem::path& name, const std::filesystem::path& target) const {
    const auto link = path_ / name;
    std::filesystem::create_symlink(target, link);
    return link;
  }

private:
  std::filesystem::path path_;
};

} // namespace kv58::testing
