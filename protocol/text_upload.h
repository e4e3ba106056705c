#pragma once
// Sending the display the text it is to show: the dcText frame, the text in pages of 256 bytes
// with a pause of one second after each page (the only pacing: nothing is awaited from the
// device), then a terminating 0x00. Progress goes to the debug log, a line per page and one at the end.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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

// The first 00 byte in a text, if any. The display ends a text at its first 00 and takes
// the bytes after it as commands (a speed, lines, a store into its EEPROM), so such a text is
// never sent.
[[nodiscard]] std::optional<std::size_t> TerminatorInText(std::string_view text);

// The seconds of pauses still to come once `pagesWritten` of `pageCount` pages are written:
// the last page written still waits out its pause, and each page to come brings one more.
[[nodiscard]] constexpr std::size_t SecondsLeft(std::size_t pagesWritten, std::size_t pageCount) {
  constexpr std::size_t kMsPerSecond = 1000;
  pagesWritten = pagesWritten < pageCount ? pagesWritten : pageCount;
  const std::size_t pausesLeft = pageCount - pagesWritten + (pagesWritten > 0 ? 1 : 0);
  return pausesLeft * kPagePauseMs / kMsPerSecond;
}

// What an upload tells its caller about each page, right after the page's write and before
// its pause: the page from 0, how many pages the text fills, and whether the port took the
// page whole.
struct PageOutcome {
  std::size_t page = 0;
  std::size_t pageCount = 0;
  bool sent = false;
  // Whether the page had left toward the display within the port's time-outs, before its
  // pause began (a device server acknowledged it); a page sent but not drained may or may not
  // have reached the display.
  bool drained = false;
  std::size_t bytesTaken = 0; // of this page, by the port: all of it when sent
};
// What comes after a page: the rest of the text; the page's pause and then the terminator, so
// the display holds the pages so far as a whole text; or nothing at all.
enum class AfterPage { Continue, EndText, Abandon };
using PageObserver = std::function<AfterPage(const PageOutcome& outcome)>;

struct UploadResult {
  std::size_t pageCount = 0;
  std::size_t leadingPagesSent = 0; // pages taken whole before the first that was not
  bool terminatorSent = false;
  // The port took the whole text and its terminator.
  [[nodiscard]] bool Complete() const { return leadingPagesSent == pageCount && terminatorSent; }
};

// Asked after each page's pause, before the next page is written: true ends the text there,
// with its terminator (a user who asked to stop).
using EndRequest = std::function<bool()>;

// Uploads `text` (raw bytes). Every page is written once, drained, and followed by
// `pause`(kPagePauseMs),
// a failed or the last one included; a page or terminator that the port took only in part is
// logged as kPortNotConnectedLine. Without an observer or end request that asks otherwise, the
// upload is never cut short. A text the device cannot take whole (longer than kMaxTextBytes, or holding a 00)
// is a caller's fault that would overrun or command the device: it is refused whole, with
// nothing written and nothing logged.
UploadResult UploadText(TCOMSocket& port, std::string_view text, const Pause& pause, DebugLog& log,
                        const PageObserver& observe = {}, const EndRequest& endRequested = {});

// Ends a text that an upload left open (its frame went out, its 00 did not: a connection
// lost on the way to a device server, whose display still waits for more of the text). The
// display is owed the pause of the last page that reached it: that pause runs out first,
// counted from `lastPageAt`. True when the port took the 00 and it has left.
bool EndOpenText(TCOMSocket& port, const Pause& pause, std::chrono::steady_clock::time_point lastPageAt);

} // namespace kv58
