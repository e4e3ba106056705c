#include "tools/kv58/fleet_report.h"

#include <algorithm>
#include <map>

#include "tools/common/json_line.h"
#include "tools/kv58/command_line.h"

namespace kv58::cli {

std::string StatusWord(const DisplayResult& result) {
  if (result.status == kExitDone) {
    return "done";
  }
  if (result.status > 128) {
    return result.reached ? "interrupted" : "not-started";
  }
  return result.reached ? "failed" : "not-reachable";
}

std::string ReportLine(const Display& display, const DisplayResult& result, bool noteShared) {
  const std::string port = display.port.Canonical();
  const std::string who = display.name == port ? port : PrintableName(display.name) + " (" + port + ")";
  const std::string status = StatusWord(result);
  if (status == "done") {
    return who + ": done" + (result.note.empty() || noteShared ? "" : " (" + result.note + ")");
  }
  if (status == "not-started") {
    return who + ": not started";
  }
  if (status == "not-reachable") {
    return who + ": not reachable: " + result.message;
  }
  // An interruption's message says so itself ("text from offer.txt: interrupted: ...").
  return who + (status == "interrupted" ? ": " : ": failed: ") + result.message;
}

std::string JsonReportLine(const Display& display, const DisplayResult& result) {
  JsonLine line;
  line.Add("name", display.name).Add("port", display.port.Canonical()).Add("status", StatusWord(result));
  if (result.status != kExitDone && !result.kind.empty()) {
    line.Add("kind", result.kind);
  }
  line.Add("message", result.message);
  if (result.text) {
    line.Add("pages_sent", static_cast<long long>(result.text->pagesShown))
        .Add("pages", static_cast<long long>(result.text->pageCount));
  }
  line.Add("attempts", static_cast<long long>(result.attempts)).Add("seconds", result.seconds);
  line.Add("notes", result.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{result.note});
  return line.Close();
}

std::vector<std::string> SharedNotes(const std::vector<DisplayResult>& results) {
  std::map<std::string, std::size_t> counts;
  for (const DisplayResult& result : results) {
    if (!result.note.empty()) {
      ++counts[result.note];
    }
  }
  std::vector<std::string> shared;
  for (const auto& [note, count] : counts) {
    if (count > 1) {
      shared.push_back(note);
    }
  }
  return shared;
}

} // namespace kv58::cli
