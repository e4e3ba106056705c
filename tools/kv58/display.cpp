#include "tools/kv58/display.h"

#include <array>
#include <cstdio>

namespace kv58::cli {

std::string PrintableName(std::string_view name) {
  std::string printable;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      std::array<char, 5> escaped{};
      (void)std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
      printable += escaped.data();
    } else {
      printable += c;
    }
  }
  return printable;
}

} // namespace kv58::cli
