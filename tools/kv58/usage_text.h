#pragma once
// What kv58 --help and kv58 --version print. Laid out for help2man, which builds the
// manual page from them: "Usage:" first, then sections whose titles end in a colon.

#include <string>

namespace kv58::cli {

[[nodiscard]] std::string UsageText();
[[nodiscard]] std::string VersionText();

} // namespace kv58::cli
