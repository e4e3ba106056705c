#include <array>
#include <stdexcept>

#include "tools/kv58/console.h"

namespace kv58::cli {
namespace {

class InputBuffer : public std::streambuf {
protected:
  int_type underflow() override {
    const long got = ReadStandardInput(buffer_.data(), buffer_.size());
    if (got < 0) {
      // istream turns an exception from its buffer into badbit.
      throw std::runtime_error("standard input cannot be read");
    }
    if (got == 0) {
      return traits_type::eof();
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(buffer_[0]);
  }

private:
  std::array<char, 4096> buffer_{};
};

} // namespace

std::unique_ptr<std::streambuf> StandardInputBuffer() { return std::make_unique<InputBuffer>(); }

} // namespace kv58::cli
