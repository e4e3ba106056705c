#include "protocol/text_upload.h"

#include <algorithm>

#include "protocol/device_command.h"

namespace kv58 {
namespace {

// True only when the port took all of `bytes`: a part of a page is not a page on the device.
[[nodiscard]] bool WriteWhole(TCOMSocket& port, std::string_view bytes) {
  const auto count = static_cast<std::uint32_t>(bytes.size());
  return port.Write(bytes.data(), count) == count;
}

} // namespace

std::string PageSentLine(std::size_t page) { return std::string(kPageSentPrefix) + std::to_string(page); }

std::string TextSentLine(std::size_t size) {
  return "Wysłano tekst do urządzenia " + std::to_string(size) + " znaków";
}

bool UploadText(TCOMSocket& port, std::string_view text, const Pause& pause, DebugLog& log,
                const PageObserver& observe) {
  if (text.size() > kMaxTextBytes) {
    return false;
  }
  // The frame's own outcome is not reported: the pages and the terminator say how it went.
  (void)SendCommand(port, TDeviceCommand::dcText);

  bool everyPageSent = true;
  const std::size_t pageCount = PageCount(text.size());
  for (std::size_t page = 0; page < pageCount; ++page) {
    const std::size_t offset = page * kPageBytes;
    const std::string_view bytes = text.substr(offset, std::min(kPageBytes, text.size() - offset));
    const bool sent = WriteWhole(port, bytes);
    everyPageSent = everyPageSent && sent;
    log.Log(sent ? PageSentLine(page) : std::string(kPortNotConnectedLine));
    if (observe && !observe(PageOutcome{page, pageCount, sent})) {
      return false;
    }
    pause(kPagePauseMs);
  }

  const char terminator = static_cast<char>(kTextTerminator);
  const bool ended = WriteWhole(port, std::string_view(&terminator, 1));
  log.Log(ended ? TextSentLine(text.size()) : std::string(kPortNotConnectedLine));
  return everyPageSent && ended;
}

} // namespace kv58
