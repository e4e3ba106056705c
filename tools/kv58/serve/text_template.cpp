#include "tools/kv58/serve/text_template.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "protocol/text_upload.h"

namespace kv58::serve {
namespace {

// English names in ASCII: the display's character set is not known, and ASCII shows the same
// on every one. In tm_wday's order.
constexpr std::array<std::string_view, 7> kWeekdayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                        "Thursday", "Friday", "Saturday"};

constexpr std::string_view kDateField = "{date";
constexpr std::string_view kTimeField = "{time";
constexpr std::string_view kWeekdayField = "{weekday}";
constexpr std::string_view kDefaultDate = "%Y-%m-%d";
constexpr std::string_view kDefaultTime = "%H:%M";
// How much of an unclosed field an error quotes.
constexpr std::size_t kQuotedBytes = 24;

std::string Padded(long value, std::size_t width, char fill = '0') {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (digits.size() < width) {
    digits.insert(0, width - digits.size(), fill);
  }
  return value < 0 ? "-" + digits : digits;
}

// ISO 8601 weeks begin on Monday; week 1 is the one holding the year's first Thursday.
int IsoWeeksIn(long year) {
  const auto lastDay = [](long y) { return (y + y / 4 - y / 100 + y / 400) % 7; }; // 4: a Thursday
  return 52 + (lastDay(year) == 4 || lastDay(year - 1) == 3 ? 1 : 0);
}

struct IsoWeek {
  long year;
  int week;
};

IsoWeek IsoWeekOf(const std::tm& local) {
  const long year = local.tm_year + 1900L;
  const int isoDay = local.tm_wday == 0 ? 7 : local.tm_wday;
  const int week = (local.tm_yday + 1 - isoDay + 10) / 7;
  if (week < 1) {
    return {year - 1, IsoWeeksIn(year - 1)};
  }
  if (week > IsoWeeksIn(year)) {
    return {year + 1, 1};
  }
  return {year, week};
}

// One % field, or none for a field that is not made of digits.
std::optional<std::string> Field(char field, const std::tm& local) {
  const long year = local.tm_year + 1900L;
  switch (field) {
  case 'd':
    return Padded(local.tm_mday, 2);
  case 'e':
    return Padded(local.tm_mday, 2, ' ');
  case 'm':
    return Padded(local.tm_mon + 1, 2);
  case 'Y':
    return std::to_string(year);
  case 'y':
    return Padded(year % 100, 2);
  case 'C':
    return Padded(year / 100, 2);
  case 'H':
    return Padded(local.tm_hour, 2);
  case 'I':
    return Padded((local.tm_hour + 11) % 12 + 1, 2);
  case 'M':
    return Padded(local.tm_min, 2);
  case 'S':
    return Padded(local.tm_sec, 2);
  case 'j':
    return Padded(local.tm_yday + 1, 3);
  case 'u':
    return std::to_string(local.tm_wday == 0 ? 7 : local.tm_wday);
  case 'w':
    return std::to_string(local.tm_wday);
  case 'U':
    return Padded((local.tm_yday + 7 - local.tm_wday) / 7, 2);
  case 'W':
    return Padded((local.tm_yday + 7 - (local.tm_wday + 6) % 7) / 7, 2);
  case 'G':
    return std::to_string(IsoWeekOf(local).year);
  case 'g':
    return Padded(IsoWeekOf(local).year % 100, 2);
  case 'V':
    return Padded(IsoWeekOf(local).week, 2);
  case 'F':
    return *Field('Y', local) + "-" + *Field('m', local) + "-" + *Field('d', local);
  case 'D':
    return *Field('m', local) + "/" + *Field('d', local) + "/" + *Field('y', local);
  case 'T':
    return *Field('H', local) + ":" + *Field('M', local) + ":" + *Field('S', local);
  case 'R':
    return *Field('H', local) + ":" + *Field('M', local);
  case '%':
    return "%";
  default:
    return std::nullopt;
  }
}

// The part of the text an error quotes: control bytes escaped, so the message stays one line.
std::string Quoted(std::string_view part) {
  std::string quoted;
  for (const char c : part.substr(0, kQuotedBytes)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      std::array<char, 5> escaped{};
      (void)std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
      quoted += escaped.data();
    } else {
      quoted += c;
    }
  }
  return quoted + (part.size() > kQuotedBytes ? "..." : "");
}

// `format` filled in, or the error naming `field` (the whole {date:...} as written).
bool Format(std::string_view format, std::string_view field, const std::tm& local, std::string& out,
            std::string& error) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 == format.size()) {
      error = Quoted(field) + ": the format ends in a lone %; write %% for a %";
      return false;
    }
    const char name = format[++i];
    const auto value = Field(name, local);
    if (!value) {
      error = Quoted(field) + ": %" + Quoted(std::string_view(&name, 1)) +
              " is not a field of digits; a format takes %d %m %Y %y %C %H %I %M %S %j %e %u %w %U %W %G %g "
              "%V %F %T %R %D and %% (names such as %A or %B depend on the language)";
      return false;
    }
    out += *value;
  }
  return true;
}

} // namespace

ExpandedText ExpandTemplate(std::string_view text, const std::tm& local) {
  std::string out;
  std::string error;
  const auto failed = [&error] { return ExpandedText{std::nullopt, std::move(error)}; };
  std::size_t i = 0;
  while (i < text.size()) {
    const std::string_view rest = text.substr(i);
    if (!rest.starts_with('{')) {
      out += text[i++];
      continue;
    }
    if (rest.starts_with("{{")) {
      out += '{';
      i += 2;
      continue;
    }
    if (rest.starts_with(kWeekdayField)) {
      out += kWeekdayNames.at(static_cast<std::size_t>(std::clamp(local.tm_wday, 0, 6)));
      i += kWeekdayField.size();
      continue;
    }
    const bool date = rest.starts_with(kDateField);
    if (!date && !rest.starts_with(kTimeField)) {
      out += text[i++];
      continue;
    }
    const std::string_view after = rest.substr(kDateField.size()); // both names are 5 bytes
    std::string_view format;
    std::size_t length = 0;
    if (after.starts_with('}')) {
      format = date ? kDefaultDate : kDefaultTime;
      length = kDateField.size() + 1;
    } else if (after.starts_with(':')) {
      const std::size_t close = after.find('}');
      if (close == std::string_view::npos) {
        error = Quoted(rest) + " at offset " + std::to_string(i) + " has no closing }";
        return failed();
      }
      format = after.substr(1, close - 1);
      length = kDateField.size() + close + 1;
      if (format.empty()) {
        error = Quoted(rest.substr(0, length)) + " at offset " + std::to_string(i) + " has no format";
        return failed();
      }
    } else { // {dates}, {timer}: not a field
      out += text[i++];
      continue;
    }
    if (!Format(format, rest.substr(0, length), local, out, error)) {
      return failed();
    }
    i += length;
  }
  if (out.size() > kMaxTextBytes) {
    return ExpandedText{std::nullopt, "holds " + std::to_string(out.size()) +
                                          " bytes once its fields are filled in; the display takes at most " +
                                          std::to_string(kMaxTextBytes) + " bytes"};
  }
  if (const auto terminator = TerminatorInText(out)) {
    return ExpandedText{std::nullopt, "holds a 00 byte at offset " + std::to_string(*terminator) +
                                          " once its fields are filled in; the display would end the text "
                                          "there and take the bytes after it as commands"};
  }
  return ExpandedText{std::move(out), {}};
}

} // namespace kv58::serve
