#include "lang/display_text.h"

#include <gtest/gtest.h>

#include <string>

#include "lang/utf8.h"

namespace kv58 {
namespace {

// The ANSI code page differs between machines, so only what holds for every code page is
// checked here: ASCII passes unchanged and the result is always UTF-8.
TEST(DecodeForDisplay, AsciiPassesUnchanged) {
  for (const auto encoding : {TextEncoding::Utf8, TextEncoding::Ansi}) {
    EXPECT_EQ(DecodeForDisplay("", encoding), "");
    EXPECT_EQ(DecodeForDisplay("SAVE\tRESET", encoding), "SAVE\tRESET");
  }
}

TEST(DecodeForDisplay, EveryByteValueGivesValidUtf8) {
  std::string every;
  for (int byte = 1; byte < 256; ++byte) {
    every.push_back(static_cast<char>(byte));
  }
  const auto text = DecodeForDisplay(every, TextEncoding::Ansi);
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_EQ(text.substr(0, 127), every.substr(0, 127));
}

} // namespace
} // namespace kv58
