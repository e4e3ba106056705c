// The wording of the command-line tools' usage errors.

#pragma once

#include <string>

namespace CLI {
class ParseError;
}

namespace kv58 {

// CLI11's own message for a slip its checks catch, in the words of the tools' other messages:
// "--link: 1 required TEXT missing" reads "--link needs a value", "json was given a
// disallowed flag override" reads "--json takes no value". Other messages pass unchanged.
std::string ParseErrorText(const CLI::ParseError& error);

} // namespace kv58
