#include "tools/kv58/progress_bar.h"

#include <algorithm>

#include "protocol/text_upload.h"

namespace kv58::cli {
namespace {

constexpr std::size_t kBarWidth = 24;

} // namespace

std::string ProgressLine(std::size_t pagesWritten, std::size_t pageCount) {
  pagesWritten = std::min(pagesWritten, pageCount);
  const std::size_t filled = pageCount == 0 ? kBarWidth : kBarWidth * pagesWritten / pageCount;
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] page " +
         std::to_string(pagesWritten) + " of " + std::to_string(pageCount) + " sent, " +
         std::to_string(SecondsLeft(pagesWritten, pageCount)) + " s left";
}

void ProgressBar::Show(std::size_t pagesWritten, std::size_t pageCount) {
  if (!enabled_) {
    return;
  }
  const std::string line = ProgressLine(pagesWritten, pageCount);
  out_ << '\r' << line;
  if (line.size() < shownWidth_) {
    out_ << std::string(shownWidth_ - line.size(), ' ');
  }
  shownWidth_ = std::max(shownWidth_, line.size());
  out_ << std::flush;
}

void ProgressBar::Clear() {
  if (!enabled_ || shownWidth_ == 0) {
    return;
  }
  out_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
  shownWidth_ = 0;
}

} // namespace kv58::cli
