#pragma once
// The text of a send command, from a file or from standard input, read before any port is
// opened: a text that cannot be sent stops the call before anything reaches the display.

#include <istream>
#include <string>

namespace kv58::cli {

struct TextInput {
  bool loaded = false;
  std::string bytes; // when loaded: the text, raw
  std::string error; // otherwise: why not, naming the file
};

// A regular file by the upload's rules (size learned without reading, at most 1983 bytes
// read), or for "-" standard input, of which at most one byte past the limit is read.
[[nodiscard]] TextInput ReadText(const std::string& file, std::istream& standardInput);

} // namespace kv58::cli
