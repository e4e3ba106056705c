#include "tools/kv58/hex_text.h"

namespace kv58::cli {

std::string HexLine(std::string_view bytes) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string line;
  line.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!line.empty()) {
      line += ' ';
    }
    line += kDigits[byte >> 4U];
    line += kDigits[byte & 0x0FU];
  }
  return line;
}

} // namespace kv58::cli
