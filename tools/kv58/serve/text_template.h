#pragma once
// A text whose date and time are filled in when it is sent: {date} (2026-03-29), {time}
// (08:05), {weekday} (Sunday), {date:FORMAT} and {time:FORMAT} with strftime's number fields,
// and {{ for a literal {. Nothing else in the text is touched: an unknown {name} or a lone }
// stays as written.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kv58::serve {

struct ExpandedText {
  std::optional<std::string> text; // ready to send: at most 1983 bytes, no 00 byte
  std::string error;               // otherwise: what is wrong, naming the field
};

// `text` with its fields filled in from `local`. A FORMAT takes only the fields made of digits
// (%d %m %Y %y %C %H %I %M %S %j %e %u %w %U %W %G %g %V, %F %T %R %D, %%): names and the
// locale's own layouts (%A %b %p %c %x ...) depend on the language and are refused.
[[nodiscard]] ExpandedText ExpandTemplate(std::string_view text, const std::tm& local);

} // namespace kv58::serve
