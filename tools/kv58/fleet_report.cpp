#include "tools/kv58/fleet_report.h"

#include <map>

#include "tools/common/json_line.h"

namespace kv58::cli {

std::string ReportLine(const Display& display, const DisplayResult& result, bool noteShared) {
  const std::string port = display.port.Canonical();
  const std::string who = display.name == port ? port : PrintableName(display.name) + " (" + port + ")";
  const std::string status(OutcomeText(result.outcome));
  const std::string earlier = result.earlier.empty() ? "" : "; " + result.earlier;
  switch (result.outcome) {
  case Outcome::Done: {
    const bool ownNote = !result.note.empty() && !noteShared;
    const std::string said =
        (ownNote ? result.note : "") + (ownNote && !result.earlier.empty() ? "; " : "") + result.earlier;
    return who + ": done" + (said.empty() ? "" : " (" + said + ")");
  }
  case Outcome::NotStarted:
    return who + ": not started";
  case Outcome::Interrupted:
    // An interruption's message says so itself ("text from offer.txt: interrupted: ...").
    return who + ": " + result.message + earlier;
  case Outcome::Partial:
  case Outcome::NotReachable:
  case Outcome::Failed:
    break;
  }
  return who + ": " + status + ": " + result.message + earlier;
}

std::string JsonReportLine(const Display& display, const DisplayResult& result) {
  JsonLine line;
  line.Add("name", display.name)
      .Add("port", display.port.Canonical())
      .Add("status", std::string(OutcomeWord(result.outcome)));
  if (result.kind != FailureKind::None) {
    line.Add("kind", std::string(KindWord(result.kind)));
  }
  line.Add("message", result.message);
  if (result.text) {
    line.Add("pages_sent",
             static_cast<long long>(result.text->open ? result.text->pagesWritten : result.text->pagesShown))
        .Add("pages", static_cast<long long>(result.text->pageCount))
        .Add("text_ended", !result.text->open);
  }
  if (!result.earlier.empty()) {
    line.Add("earlier", result.earlier);
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
