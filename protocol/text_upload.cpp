#include "protocol/text_upload.h"

#include <algorithm>

#include "protocol/device_command.h"

namespace kv58 {
namespace {

// How many of `bytes` the port took; only all of them count as sent: a part of a page is
// not a page on the device.
[[nodiscard]] std::size_t WritePart(TCOMSocket& port, std::string_view bytes) {
  return port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

} // namespace

std::string PageSentLine(std::size_t page) { return std::string(kPageSentPrefix) + std::to_string(page); }

std::string TextSentLine(std::size_t size) {
  return "Wysłano tekst do urządzenia " + std::to_string(size) + " znaków";
}

std::optional<std::size_t> TerminatorInText(std::string_view text) {
  const std::size_t found = text.find(static_cast<char>(kTextTerminator));
  return found == std::string_view::npos ? std::nullopt : std::optional<std::size_t>(found);
}

UploadResult UploadText(TCOMSocket& port, std::string_view text, const Pause& pause, DebugLog& log,
                        const PageObserver& observe, const EndRequest& endRequested) {
  UploadResult result;
  if (text.size() > kMaxTextBytes || TerminatorInText(text)) {
    return result;
  }
  // The frame's own outcome is not reported: the pages and the terminator say how it went.
  (void)SendCommand(port, TDeviceCommand::dcText);

  result.pageCount = PageCount(text.size());
  bool everyPageSent = true;
  std::size_t textEnd = text.size();
  for (std::size_t page = 0; page < result.pageCount; ++page) {
    const std::size_t offset = page * kPageBytes;
    const std::string_view bytes = text.substr(offset, std::min(kPageBytes, text.size() - offset));
    const std::size_t taken = WritePart(port, bytes);
    const bool sent = taken == bytes.size();
    // The page's pause counts from when it has left toward the display.
    const bool drained = sent && port.Drain();
    everyPageSent = everyPageSent && sent;
    if (everyPageSent) {
      result.leadingPagesSent = page + 1;
    }
    log.Log(sent ? PageSentLine(page) : std::string(kPortNotConnectedLine));
    const AfterPage next =
        observe ? observe(PageOutcome{page, result.pageCount, sent, drained, taken}) : AfterPage::Continue;
    if (next == AfterPage::Abandon) {
      return result;
    }
    pause(kPagePauseMs);
    const bool morePages = page + 1 < result.pageCount;
    if (next == AfterPage::EndText || (morePages && endRequested && endRequested())) {
      textEnd = offset + bytes.size();
      break;
    }
  }

  const char terminator = static_cast<char>(kTextTerminator);
  result.terminatorSent = WritePart(port, std::string_view(&terminator, 1)) == 1;
  log.Log(result.terminatorSent ? TextSentLine(textEnd) : std::string(kPortNotConnectedLine));
  return result;
}

bool EndOpenText(TCOMSocket& port, const Pause& pause, std::chrono::steady_clock::time_point lastPageAt) {
  const auto owed = std::chrono::ceil<std::chrono::milliseconds>(
      lastPageAt + std::chrono::milliseconds(kPagePauseMs) - std::chrono::steady_clock::now());
  if (owed.count() > 0) {
    pause(static_cast<std::uint32_t>(owed.count()));
  }
  const char terminator = static_cast<char>(kTextTerminator);
  return WritePart(port, std::string_view(&terminator, 1)) == 1 && port.Drain();
}

} // namespace kv58
