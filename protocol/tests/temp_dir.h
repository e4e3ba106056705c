#pragma once
// A directory of its own for each test, removed with everything in it afterwards.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace kv58::testing {

class TempDir {
public:
  TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("kv58_protocol_" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

  // Writes `bytes` to a new file `name` in binary mode and gives its path.
  std::filesystem::path Write(const std::filesystem::path& name, std::string_view bytes) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

private:
  std::filesystem::path path_;
};

} // namespace kv58::testing
