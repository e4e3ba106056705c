// The tools' JSON lines: any bytes as a name, a message, a key, a list entry and line data,
// beside numbers, must give one line that a strict parser takes (valid UTF-8, valid JSON). In
// it, a valid UTF-8 text comes back as it was, every text comes back as JsonText's for its
// bytes (which writing again leaves as it is), and line data comes back byte for byte. The
// reader of JSON takes the raw input too, and must only accept or refuse it.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include "tools/common/json_line.h"
#include "tools/common/json_read.h"
#include "tools/kv58/fleet_report.h"

namespace {

using Json = nlohmann::ordered_json;

void Check(bool holds) {
  if (!holds) {
    std::abort();
  }
}

// Whether `bytes` is valid UTF-8, asked of the library (its strict serializer refuses anything
// else) rather than of the writer's own check.
bool IsValidUtf8(const std::string& bytes) {
  try {
    (void)Json(bytes).dump(-1, ' ', false, Json::error_handler_t::strict);
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

void CheckText(const Json& value, const std::string& bytes) {
  Check(value.is_string());
  const auto& text = value.get_ref<const std::string&>();
  Check(text == kv58::JsonText(bytes, kv58::HighBytes::AsText));
  Check(!IsValidUtf8(bytes) || text == bytes);
  Check(kv58::JsonText(text, kv58::HighBytes::AsText) == text);
}

// kv58's report of a display whose name (from a ports file) and message (a server's words)
// are any bytes: a strict parser takes its JSON line, and its text line holds no control byte
// that a name could move a terminal with.
void CheckReport(const std::string& name, const std::string& message, long long number) {
  const kv58::cli::Display display{name, kv58::PortName(1), {}, "--port"};
  kv58::cli::DisplayResult result;
  result.outcome = number % 2 == 0 ? kv58::cli::Outcome::Partial : kv58::cli::Outcome::NotReachable;
  result.kind = kv58::cli::FailureKind::Lost;
  result.message = message;
  result.note = name;
  result.text = kv58::cli::TextAccount{1, 8, true, 2, true};
  const Json parsed = Json::parse(kv58::cli::JsonReportLine(display, result));
  CheckText(parsed["name"], name);
  CheckText(parsed["message"], message);
  Check(parsed["text_ended"] == false);
  if (name != "COM1") { // a display named as its port is named once
    const std::string text = kv58::cli::ReportLine(display, result, false);
    Check(text.starts_with(kv58::cli::PrintableName(name) + " (COM1): partial: ") ||
          text.starts_with(kv58::cli::PrintableName(name) + " (COM1): not reachable: "));
    const std::string who = kv58::cli::PrintableName(name);
    Check(std::none_of(who.begin(), who.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)kv58::ParseJson(std::string(reinterpret_cast<const char*>(data), size));

  FuzzedDataProvider input(data, size);
  const auto number = input.ConsumeIntegral<long long>();
  const double seconds =
      input.ConsumeBool() ? std::numeric_limits<double>::quiet_NaN() : input.ConsumeFloatingPoint<double>();
  const std::string key = input.ConsumeRandomLengthString(64);
  const std::string name = input.ConsumeRandomLengthString(256);
  const std::string message = input.ConsumeRandomLengthString(256);
  const std::string lineData = input.ConsumeRemainingBytesAsString();

  const std::string line = kv58::JsonLine()
                               .Add("n", number)
                               .Add("name", name)
                               .Add("message", message.c_str())
                               .Add("data", lineData, kv58::HighBytes::AsCodePoints)
                               .Add("seconds", seconds)
                               .Add("notes", std::vector<std::string>{name, message})
                               .Add("pages", std::vector<long long>{number, 0})
                               .Add("ok", name.empty())
                               .Close();
  Check(line.find_first_of("\r\n") == std::string::npos);
  const Json parsed = Json::parse(line); // throws, and so fails, on anything but strict JSON
  Check(parsed.is_object() && parsed.size() == 8);
  Check(parsed["n"] == number);
  CheckText(parsed["name"], name);
  CheckText(parsed["message"], message.c_str()); // a C string ends at its first NUL
  const auto bytes = kv58::BytesFromCodePoints(parsed["data"].get<std::string>());
  Check(bytes.has_value() && *bytes == lineData);
  for (const char c : kv58::JsonEscape(lineData, kv58::HighBytes::AsCodePoints)) {
    Check(c >= 0x20 && c < 0x7F);
  }
  if (std::isfinite(seconds)) {
    Check(std::abs(parsed["seconds"].get<double>() - seconds) <= 0.0005 + std::abs(seconds) * 1e-15);
  } else {
    Check(parsed["seconds"].is_null());
  }
  Check(parsed["notes"].size() == 2);
  CheckText(parsed["notes"][0], name);
  CheckText(parsed["notes"][1], message);
  Check(parsed["pages"] == Json({number, 0}));
  Check(parsed["ok"] == name.empty());

  const Json keyed = Json::parse(kv58::JsonLine().Add(key, true).Close());
  Check(keyed.size() == 1 && keyed.begin().key() == kv58::JsonText(key, kv58::HighBytes::AsText));

  CheckReport(name, message, number);
  return 0;
}
