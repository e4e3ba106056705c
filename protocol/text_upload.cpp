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

void UploadText(TCOMSocket& port, std::string_view text, const Pause& pause, DebugLog& log) {
  if (text.size() > kMaxTextBytes) {
    return;
  }
  // The frame's own outcome is not reported: the pages and the terminator say how it went.
  (void)SendCommand(port, TDeviceCommand::dcText);

  std::size_t page = 0;
  for (std::size_t offset = 0; offset < text.size(); offset += kPageBytes, ++page) {
    const std::string_view bytes = text.substr(offset, std::min(kPageBytes, text.size() - offset));
    log.Log(WriteWhole(port, bytes) ? PageSentLine(page) : std::string(kPortNotConnectedLine));
    pause(kPagePauseMs);
  }

  const char terminator = static_cast<char>(kTextTerminator);
  log.Log(WriteWhole(port, std::string_view(&terminator, 1)) ? TextSentLine(text.size())
                                                             : std::string(kPortNotConnectedLine));
}

} // namespace kv58
