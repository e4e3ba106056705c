#include "tools/common/parse_error_text.h"

#include <CLI/CLI.hpp>

namespace kv58 {

std::string ParseErrorText(const CLI::ParseError& error) {
  const std::string text = error.what();
  if (const std::size_t colon = text.find(": "); colon != std::string::npos && text.ends_with(" missing")) {
    return text.substr(0, colon) + " needs a value";
  }
  if (const std::size_t end = text.find(" was given a disallowed flag override"); end != std::string::npos) {
    return "--" + text.substr(0, end) + " takes no value";
  }
  return text;
}

} // namespace kv58
