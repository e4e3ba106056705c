#include "tools/kv58/serve/metrics.h"

#include <chrono>
#include <functional>
#include <sstream>

#include "tools/common/json_line.h"

namespace kv58::serve {
namespace {

// A label's value: valid UTF-8, with \, " and line ends escaped.
std::string LabelValue(std::string_view bytes) {
  std::string escaped;
  for (const char c : JsonText(bytes, HighBytes::AsText)) {
    switch (c) {
    case '\\':
      escaped += "\\\\";
      break;
    case '"':
      escaped += "\\\"";
      break;
    case '\n':
      escaped += "\\n";
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

void Family(std::ostringstream& out, const char* name, const char* type, const char* help,
            const std::vector<DisplayView>& displays,
            const std::function<void(const DisplayView&, const std::string& label)>& samples) {
  out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
  for (const DisplayView& view : displays) {
    samples(view, "display=\"" + LabelValue(view.display.name) + "\"");
  }
}

} // namespace

std::string MetricsText(const std::vector<DisplayView>& displays) {
  std::ostringstream out;
  Family(out, "kv58_jobs_total", "counter", "Jobs a display has ended, by their status.", displays,
         [&out](const DisplayView& view, const std::string& label) {
           for (const auto& [status, count] : view.jobsByStatus) {
             out << "kv58_jobs_total{" << label << ",status=\"" << status << "\"} " << count << '\n';
           }
         });
  Family(out, "kv58_last_success_timestamp_seconds", "gauge",
         "When a display's last successful job ended (Unix time).", displays,
         [&out](const DisplayView& view, const std::string& label) {
           if (view.lastSuccess) {
             const auto ms =
                 std::chrono::duration_cast<std::chrono::milliseconds>(view.lastSuccess->time_since_epoch())
                     .count();
             out << "kv58_last_success_timestamp_seconds{" << label << "} " << ms / 1000 << '.'
                 << std::to_string(1000 + ms % 1000).substr(1) << '\n';
           }
         });
  Family(out, "kv58_last_job_succeeded", "gauge", "1 when a display's last job sent everything, 0 when not.",
         displays, [&out](const DisplayView& view, const std::string& label) {
           if (view.last) {
             out << "kv58_last_job_succeeded{" << label << "} "
                 << (view.last->result.outcome == cli::Outcome::Done ? 1 : 0) << '\n';
           }
         });
  Family(out, "kv58_display_busy", "gauge", "1 while a display has a job being sent or waiting.", displays,
         [&out](const DisplayView& view, const std::string& label) {
           out << "kv58_display_busy{" << label << "} " << (view.busy ? 1 : 0) << '\n';
         });
  return out.str();
}

} // namespace kv58::serve
