#pragma once
// The log of a service that has no console: a file that lines are appended to, each with the
// local time, kept whole line by line, and bounded: past `limit` bytes it becomes FILE.1
// (replacing the one before) and a new FILE begins, at start and while running.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <streambuf>
#include <string>
#include <string_view>

namespace kv58::serve {

inline constexpr std::uintmax_t kServiceLogLimit = 1024 * 1024;

class RotatingLog : public std::streambuf {
public:
  RotatingLog(std::filesystem::path path, std::uintmax_t limit = kServiceLogLimit);
  [[nodiscard]] bool IsOpen() const { return file_.is_open(); }
  [[nodiscard]] const std::string& Error() const { return error_; }

protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

private:
  void Put(std::string_view text);
  void Open();

  std::mutex mutex_;
  std::filesystem::path path_;
  std::uintmax_t limit_;
  std::ofstream file_;
  std::uintmax_t size_ = 0;
  bool lineStart_ = true;
  std::string error_;
};

} // namespace kv58::serve
