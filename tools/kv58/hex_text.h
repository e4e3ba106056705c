#pragma once
// Bytes written out for people: upper-case hex pairs with a blank between ("FF 03 04").

#include <string>
#include <string_view>

namespace kv58::cli {

[[nodiscard]] std::string HexLine(std::string_view bytes);

} // namespace kv58::cli
