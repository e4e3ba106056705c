#pragma once
// How the texts of one language file are to be shown, decided once for the whole file: a
// byte-order mark or a file that is valid UTF-8 throughout is UTF-8; anything else is 8-bit
// text in the system's ANSI code page (Windows-1250 off Windows). Deciding text by text would
// misread Windows-1250 words whose bytes happen to form UTF-8 ("WIĘŹ" among them).

#include <string_view>

namespace kv58 {

enum class TextEncoding {
  Utf8,
  Ansi, // the system's ANSI code page on Windows, Windows-1250 elsewhere
};

// Sees a file's lines in order, as the line reader gives them, and judges the whole file.
// Line ends are ASCII and never part of a UTF-8 sequence, so the file is valid UTF-8 exactly
// when each of its lines is.
class TextEncodingJudge {
public:
  void SeeLine(std::string_view line);
  [[nodiscard]] TextEncoding Verdict() const;

private:
  bool seenFirstLine_ = false;
  bool byteOrderMark_ = false;
  bool allUtf8_ = true;
};

} // namespace kv58
