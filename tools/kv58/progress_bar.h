#pragma once
// The upload's progress on a terminal: one line, redrawn after every page, cleared at the end.

#include <cstddef>
#include <ostream>
#include <string>

namespace kv58::cli {

// "[#########...............] page 3 of 8 sent, 6 s left": the pages written so far, and
// the upload's seconds left.
[[nodiscard]] std::string ProgressLine(std::size_t pagesWritten, std::size_t pageCount);

class ProgressBar {
public:
  // Draws nothing unless enabled (standard error is a terminal and --quiet is not given).
  ProgressBar(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(std::size_t pagesWritten, std::size_t pageCount);
  // Blanks the line, so that whatever follows starts on a clean one.
  void Clear();

private:
  std::ostream& out_;
  bool enabled_;
  std::size_t shownWidth_ = 0;
};

} // namespace kv58::cli
