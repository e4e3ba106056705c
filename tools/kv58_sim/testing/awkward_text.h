#pragma once
// A text the size the display holds, full of what Telnet treats specially: 0xFF (its command
// byte) alone, doubled and before the codes of SB and SE, and 0x0D (which Telnet without
// BINARY follows with 0x00), the last byte one too. Whatever carries it to the simulator must
// deliver it byte for byte.

#include <string>
#include <string_view>

#include "protocol/text_upload.h"

namespace kv58::sim::test_support {

inline std::string TelnetAwkwardText() {
  constexpr std::string_view kPiece = "scroll \xFF\r\n\xFF\xFF\xFA\x2C\xFF\xF0\r";
  std::string text;
  while (text.size() < kMaxTextBytes) {
    text += kPiece;
  }
  text.resize(kMaxTextBytes - 1);
  return text + '\r';
}

} // namespace kv58::sim::test_support
