#pragma once
// Splits a byte stream into lines as the language file defines them, one chunk at a time,
// so a file of any size is read without holding more than the line being built.
// A line ends at CR LF, LF or CR: after a line's text one CR is skipped, then one LF, so
// LF CR ends a line and then an empty one. A NUL byte ends the whole text.

#include <functional>
#include <string>
#include <string_view>

namespace kv58 {

class LineSplitter {
public:
  using LineSink = std::function<void(std::string_view line)>;

  explicit LineSplitter(LineSink sink);

  // Hands the sink every line that `chunk` completes. Returns false once a NUL byte has
  // ended the text; the caller should stop reading, and later chunks are ignored.
  [[nodiscard]] bool Feed(std::string_view chunk);

  // The end of the input: a last line without a line end still counts. A line end at the
  // very end adds no empty line.
  void Finish();

private:
  void EmitLine();

  LineSink sink_;
  std::string line_;
  bool lineOpen_ = false;  // a line has begun: some byte of it (text or its line end) was seen
  bool skipOneLf_ = false; // the previous line ended at a CR, so an LF right after belongs to it
  bool ended_ = false;     // a NUL byte was seen
};

} // namespace kv58
