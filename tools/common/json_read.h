#pragma once
// Reading JSON that comes from outside (a request, a line a tool wrote, read back): strictly
// (RFC 8259: UTF-8 checked, no comments, one value with only white space around it), with the
// keys kept in their order, and never by an exception that escapes.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kv58 {

// The value in `text`, or nothing with `error` (when given) saying where and why it is not JSON,
// in words that hold no byte of the input.
[[nodiscard]] std::optional<nlohmann::ordered_json> ParseJson(std::string_view text,
                                                              std::string* error = nullptr);

// The bytes of a string that HighBytes::AsCodePoints wrote (`utf8` as a parser returns it), or
// nothing when it holds a character past U+00FF, which that mode never writes.
[[nodiscard]] std::optional<std::string> BytesFromCodePoints(std::string_view utf8);

} // namespace kv58
