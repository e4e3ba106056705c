#pragma once
// Sending the display the text it is to show: the dcText frame, the text in pages of 256 bytes
// with a pause of one second after each page (the only pacing: nothing is awaited from the
// device), then a terminating 0x00. Progress goes to the debug log, a line per page and one at the end.

#include <cstddef>
#include <cstdint>
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

// Uploads `text` (raw bytes, at most kMaxTextBytes). Every page is written once and followed by
// `pause`(kPagePauseMs), a failed or the last one included; a page or terminator that the port
// took only in part is logged as kPortNotConnectedLine. The upload is never cut short.
// A longer text is a caller's fault that would overrun the device: it is refused whole,
// with nothing written and nothing logged.
void UploadText(TCOMSocket& port, std::string_view text, const Pause& pause, DebugLog& log);

} // namespace kv58
