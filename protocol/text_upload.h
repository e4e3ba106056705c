#pragma once
// Sending the display the text it is to show: the dcText frame, the text in pages of 256 bytes
// with a pause of one second after each page (the only pacing: nothing is awaited from the
// device), then a terminating 0x00. Progress goes to the debug log, a line per page and one at the end.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/debug_log.h"
#include "protocol/pause.h"
#include "serial/com_socket.h"

namespace kv58 {

// The device holds at most this many bytes of text, plus the terminator.
inline constexpr std::size_t kMaxTextBytes = 1983;
inline constexpr std::size_t kPageBytes = 256;
inline constexpr std::uint32_t kPagePauseMs = 1000;
inline constexpr std::uint8_t kTextTerminator = 0x00;

inline constexpr std::string_view kPageSentPrefix = "wysłano stronę";

// The log line of a page the port took whole: kPageSentPrefix and the page number from 0.
[[nodiscard]] std::string PageSentLine(std::size_t page);
// The log line of a terminator the port took: "Wysłano tekst do urządzenia <size> znaków".
[[nodiscard]] std::string TextSentLine(std::size_t size);

// The number of pages `size` bytes of text fill: 0 for none, 8 for 1793 to 1983.
[[nodiscard]] constexpr std::size_t PageCount(std::size_t size) {
  return (size + kPageBytes - 1) / kPageBytes;
}

// What an upload tells its caller about each page, right after the page's write and before
// its pause: the page from 0, how many pages the text fills, and whether the port took the
// page whole. Returning false ends the upload there: no pause, no further page, no terminator.
struct PageOutcome {
  std::size_t page = 0;
  std::size_t pageCount = 0;
  bool sent = false;
};
using PageObserver = std::function<bool(const PageOutcome& outcome)>;

// Uploads `text` (raw bytes, at most kMaxTextBytes). Every page is written once and followed by
// `pause`(kPagePauseMs), a failed or the last one included; a page or terminator that the port
// took only in part is logged as kPortNotConnectedLine. Without an observer that asks to stop,
// the upload is never cut short. True when the port took every page and the terminator whole.
// A longer text is a caller's fault that would overrun the device: it is refused whole,
// with nothing written and nothing logged.
bool UploadText(TCOMSocket& port, std::string_view text, const Pause& pause, DebugLog& log,
                const PageObserver& observe = {});

} // namespace kv58
