#pragma once
// A fleet's report, one line per display: words for people, or JSON Lines for scripts and
// monitoring. The JSON fields are kept stable (kv58 --help lists them).

#include <string>
#include <vector>

#include "tools/kv58/display.h"
#include "tools/kv58/display_result.h"

namespace kv58::cli {

// "hall-1 (rfc2217://10.0.0.5:4001): failed: ...", names with control bytes escaped
// (PrintableName, display.h). A note
// shared by several displays is left to SharedNotes.
[[nodiscard]] std::string ReportLine(const Display& display, const DisplayResult& result, bool noteShared);
[[nodiscard]] std::string JsonReportLine(const Display& display, const DisplayResult& result);

// The notes that more than one display got, each once.
[[nodiscard]] std::vector<std::string> SharedNotes(const std::vector<DisplayResult>& results);

} // namespace kv58::cli
