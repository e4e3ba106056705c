// What kv58 serve takes from outside beside its ports file: a text's template fields, a
// settings request's JSON, and a schedule file. The first byte picks which; the rest is the
// input. Each must be taken or refused with a reason, and what is taken must be sendable.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/text_upload.h"
#include "tools/kv58/serve/api_orders.h"
#include "tools/kv58/serve/schedule.h"
#include "tools/kv58/serve/text_template.h"

namespace {

const std::filesystem::path& ScratchFile() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("kv58-schedule-fuzz-" + std::to_string(::getpid()) + ".txt");
  return path;
}

void Check(bool holds) {
  if (!holds) {
    std::abort();
  }
}

void Template(std::string_view text) {
  std::tm local{};
  local.tm_year = 126;
  local.tm_mon = 2;
  local.tm_mday = 29;
  local.tm_hour = 2;
  local.tm_min = 30;
  local.tm_wday = 0;
  local.tm_yday = 87;
  const kv58::serve::ExpandedText expanded = kv58::serve::ExpandTemplate(text, local);
  Check(expanded.text
            ? expanded.text->size() <= kv58::kMaxTextBytes && !kv58::TerminatorInText(*expanded.text)
            : !expanded.error.empty());
}

void Settings(std::string_view body) {
  const auto order = kv58::serve::SettingsOrder(body);
  if (const auto* refusal = std::get_if<kv58::serve::Refusal>(&order)) {
    Check(!refusal->error.empty());
  } else {
    Check(!std::get<kv58::serve::Order>(order).plan.empty());
  }
}

void Schedule(std::string_view text) {
  std::ofstream(ScratchFile(), std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
  const kv58::serve::ScheduleLoad load = kv58::serve::ReadSchedule(ScratchFile().string());
  Check(load.schedule.has_value() || !load.error.empty());
  if (load.schedule) {
    const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1774745400)); // 2026-03-29
    (void)kv58::serve::NextWake(*load.schedule, now);
    (void)kv58::serve::DueBetween(*load.schedule, now, now + std::chrono::hours(25));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
  case 0:
    Template(input);
    break;
  case 1:
    Settings(input);
    break;
  default:
    Schedule(input);
  }
  return 0;
}
