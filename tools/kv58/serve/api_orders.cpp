#include "tools/kv58/serve/api_orders.h"

#include <array>
#include <vector>

#include "protocol/text_upload.h"
#include "tools/common/json_read.h"
#include "tools/kv58/command_line.h"

namespace kv58::serve {
namespace {

// The fields in the order their steps are sent: settings first, then storing them, then a reset.
constexpr std::array<std::string_view, 6> kSettingsFields = {"speed",  "first_line", "last_line",
                                                             "scroll", "store",      "reset"};

Refusal Refused(std::string error) { return Refusal{400, std::move(error)}; }

std::string Number(const nlohmann::ordered_json& value) { return std::to_string(value.get<std::int64_t>()); }

// The kv58 command words for the settings asked for, or why not.
std::variant<std::vector<std::string>, Refusal> CommandWords(const nlohmann::ordered_json& settings) {
  for (const auto& [key, value] : settings.items()) {
    if (std::find(kSettingsFields.begin(), kSettingsFields.end(), key) == kSettingsFields.end()) {
      return Refused("unknown field \"" + key +
                     "\": the fields are speed, first_line, last_line, scroll, store and reset");
    }
  }
  for (const char* key : {"speed", "first_line", "last_line"}) {
    if (settings.contains(key) && !settings[key].is_number_integer()) {
      return Refused(std::string("field \"") + key + "\" takes a whole number");
    }
  }
  for (const char* key : {"store", "reset"}) {
    if (settings.contains(key) && !settings[key].is_boolean()) {
      return Refused(std::string("field \"") + key + "\" takes true or false");
    }
  }
  if (settings.contains("first_line") != settings.contains("last_line")) {
    return Refused(std::string("field \"") + (settings.contains("first_line") ? "last_line" : "first_line") +
                   "\" is missing: the display takes the first and the last line together");
  }
  std::vector<std::string> words;
  if (settings.contains("speed")) {
    words.insert(words.end(), {"speed", Number(settings["speed"])});
  }
  if (settings.contains("first_line")) {
    words.insert(words.end(), {"lines", Number(settings["first_line"]), Number(settings["last_line"])});
  }
  if (settings.contains("scroll")) {
    const auto& scroll = settings["scroll"];
    const std::string kind = scroll.is_string() ? scroll.get<std::string>() : "";
    if (kind != "off" && kind != "vertical" && kind != "horizontal") {
      return Refused("field \"scroll\" takes \"off\", \"vertical\" or \"horizontal\"");
    }
    words.insert(words.end(), {"scroll", kind == "off" ? "none" : kind});
  }
  for (const char* key : {"store", "reset"}) {
    if (settings.value(key, false)) {
      words.emplace_back(key);
    }
  }
  return words;
}

} // namespace

std::variant<Order, Refusal> TextOrder(std::string_view body, bool templated) {
  if (body.size() > kMaxTextBytes && !templated) {
    return Refusal{413, "the text is " + std::to_string(body.size()) + " bytes; the display holds at most " +
                            std::to_string(kMaxTextBytes)};
  }
  if (const auto at = TerminatorInText(body)) {
    return Refused("the text holds a 00 byte at offset " + std::to_string(*at) +
                   ", which would end it there and pass the rest to the display as commands");
  }
  cli::Step step;
  step.kind = cli::Step::Kind::Send;
  step.file = "(request body)";
  step.templated = templated;
  return Order{{cli::PlannedStep{step, std::string(body)}}, "api"};
}

std::variant<Order, Refusal> SettingsOrder(std::string_view body) {
  std::string error;
  const auto settings = ParseJson(body, &error);
  if (!settings) {
    return Refused("the body is not JSON: " + error);
  }
  if (!settings->is_object() || settings->empty()) {
    return Refused("the body is a JSON object with one or more of speed, first_line, last_line, scroll, "
                   "store and reset");
  }
  auto words = CommandWords(*settings);
  if (const auto* refusal = std::get_if<Refusal>(&words)) {
    return *refusal;
  }
  const auto& list = std::get<std::vector<std::string>>(words);
  if (list.empty()) {
    return Refused("nothing to send: store and reset are false, and no setting is given");
  }
  const std::vector<std::string_view> args(list.begin(), list.end());
  const cli::CommandLine parsed = cli::ParseCommandLine(args);
  if (parsed.action != cli::CommandLine::Action::Run) {
    return Refused(parsed.error);
  }
  Order order{{}, "api"};
  for (const cli::Step& step : parsed.request.steps) {
    order.plan.push_back(cli::PlannedStep{step, {}});
  }
  return order;
}

} // namespace kv58::serve
