#pragma once
// A fresh directory under the system's temporary folder, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace kv58::sim::test_support {

class ScratchDir {
public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kv58-sim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) {
      std::filesystem::remove_all(path_, ignored);
    }
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] bool IsMade() const { return !path_.empty(); }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
  std::filesystem::path path_;
};

} // namespace kv58::sim::test_support
