// Any bytes in chunks of any size: the lines must come out the same however the input is cut.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "lang/line_splitter.h"

namespace {

std::vector<std::string> Lines(std::string_view input, std::size_t chunk) {
  std::vector<std::string> lines;
  kv58::LineSplitter splitter([&lines](std::string_view line) { lines.emplace_back(line); });
  for (std::size_t at = 0; at < input.size(); at += chunk) {
    if (!splitter.Feed(input.substr(at, chunk))) {
      break;
    }
  }
  splitter.Finish();
  return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view input(reinterpret_cast<const char*>(bytes + 1), size - 1);
  if (Lines(input, 1 + bytes[0] % 32) != Lines(input, input.size() + 1)) {
    std::abort();
  }
  return 0;
}
