// kv58's command line: any words, split at NUL bytes, must be parsed into a run, help, the
// version or one line of error, and never end the program.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/kv58/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  std::vector<std::string_view> args;
  for (std::size_t start = 0; start <= input.size();) {
    const std::size_t end = std::min(input.find('\0', start), input.size());
    args.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  (void)kv58::cli::ParseCommandLine(args);
  return 0;
}
