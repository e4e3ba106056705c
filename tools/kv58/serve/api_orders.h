#pragma once
// What an API request asks of its displays, from the request's body: a text, or settings as
// JSON. Checked whole before any display is given a job: a request is taken as it is or not
// at all, with the status and the reason for the caller.

#include <string>
#include <string_view>
#include <variant>

#include "tools/kv58/serve/dispatcher.h"

namespace kv58::serve {

struct Refusal {
  int status = 400; // 400 or 413
  std::string error;
};

// The body is the text's bytes: at most the display's 1983 (413), no 00 byte (400).
// `templated`: {date}, {time} and the like are filled in when the text is sent.
[[nodiscard]] std::variant<Order, Refusal> TextOrder(std::string_view body, bool templated);

// {"speed": 0-16, "first_line": 1-22, "last_line": 1-22, "scroll": "off"|"vertical"|"horizontal",
// "store": true, "reset": true}: any of them, sent in that order, each checked as kv58 checks
// its commands. Any other field, or a value of another type, is refused naming the field.
[[nodiscard]] std::variant<Order, Refusal> SettingsOrder(std::string_view body);

} // namespace kv58::serve
