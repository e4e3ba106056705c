#include "tools/kv58/serve/service/service_log.h"

#include <array>
#include <ctime>
#include <system_error>

namespace kv58::serve {
namespace {

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  (void)localtime_s(&local, &now);
#else
  (void)localtime_r(&now, &local);
#endif
  std::array<char, 32> text{};
  const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S ", &local);
  return std::string(text.data(), length);
}

} // namespace

RotatingLog::RotatingLog(std::filesystem::path path, std::uintmax_t limit)
    : path_(std::move(path)), limit_(limit) {
  Open();
}

void RotatingLog::Open() {
  std::error_code status;
  const std::uintmax_t size = std::filesystem::file_size(path_, status);
  size_ = status ? 0 : size;
  if (size_ >= limit_) {
    auto older = path_;
    older += ".1";
    std::filesystem::rename(path_, older, status);
    if (!status) {
      size_ = 0;
    }
  }
  file_.open(path_, std::ios::binary | std::ios::app);
  if (!file_.is_open()) {
    error_ = "cannot open " + path_.string() + " for appending";
  }
}

void RotatingLog::Put(std::string_view text) {
  while (!text.empty()) {
    if (lineStart_) {
      if (size_ >= limit_) {
        file_.close();
        Open();
      }
      const std::string stamp = Now();
      file_.write(stamp.data(), static_cast<std::streamsize>(stamp.size()));
      size_ += stamp.size();
      lineStart_ = false;
    }
    const auto end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    file_.write(text.data(), static_cast<std::streamsize>(length));
    size_ += length;
    if (end != std::string_view::npos) {
      lineStart_ = true;
      file_.flush(); // a line is on disk once written: the service may end without warning
    }
    text.remove_prefix(length);
  }
}

RotatingLog::int_type RotatingLog::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  const char byte = traits_type::to_char_type(c);
  const std::lock_guard lock(mutex_);
  Put(std::string_view(&byte, 1));
  return file_.good() ? c : traits_type::eof();
}

std::streamsize RotatingLog::xsputn(const char* text, std::streamsize count) {
  const std::lock_guard lock(mutex_);
  Put(std::string_view(text, static_cast<std::size_t>(count)));
  return file_.good() ? count : 0;
}

int RotatingLog::sync() {
  const std::lock_guard lock(mutex_);
  file_.flush();
  return file_.good() ? 0 : -1;
}

} // namespace kv58::serve
