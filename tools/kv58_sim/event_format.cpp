#include "tools/kv58_sim/event_format.h"

#include <array>
#include <vector>

#include "tools/common/byte_escape.h"
#include "tools/common/json_line.h"
#include "tools/kv58_sim/sim_output.h"

namespace kv58::sim {
namespace {

JsonLine JsonEvent(std::string_view name, Millis timeMs) {
  JsonLine object;
  object.Add("t_ms", timeMs).Add("event", name);
  return object;
}

std::string TimePrefix(Millis timeMs) {
  std::string digits = std::to_string(timeMs);
  constexpr std::size_t kWidth = 7;
  const std::string padding(digits.size() < kWidth ? kWidth - digits.size() : 0, ' ');
  return "[" + padding + digits + " ms] ";
}

std::string_view ReasonWords(UndecodedReason reason) {
  switch (reason) {
  case UndecodedReason::NoMarker:
    return "no marker";
  case UndecodedReason::UnknownCode:
    return "unknown code";
  case UndecodedReason::Incomplete:
    return "incomplete frame";
  case UndecodedReason::UnterminatedUpload:
    return "upload without its 0x00 end";
  }
  return "?";
}

std::string ByteCount(std::size_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

std::string ListJoined(const std::vector<std::string>& items, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    joined += (i == 0 ? "" : std::string(separator));
    joined += items[i];
  }
  return joined;
}

// "pages at 0, 1003 ms (256 + 44 bytes)", or "no pages" for an empty text.
std::string PagesText(const std::vector<UploadPage>& pages) {
  if (pages.empty()) {
    return "no pages";
  }
  std::vector<std::string> starts;
  std::vector<std::string> sizes;
  for (const UploadPage& page : pages) {
    starts.push_back(std::to_string(page.startMs));
    sizes.push_back(std::to_string(page.bytes));
  }
  return (pages.size() == 1 ? "page at " : "pages at ") + ListJoined(starts, ", ") + " ms (" +
         ListJoined(sizes, " + ") + (pages.size() == 1 && pages.front().bytes == 1 ? " byte)" : " bytes)");
}

std::string UploadText(const SimEvent& event) {
  std::string line = "text " + ByteCount(event.byteCount);
  if (event.IsCapped()) {
    line += " (first " + std::to_string(event.bytes.size()) + " shown)";
  }
  if (event.connections > 1) {
    line += " over " + std::to_string(event.connections) + " connections";
  }
  return line + ", " + PagesText(event.pages) + ", end at " + std::to_string(event.endMs) + " ms: \"" +
         EscapeC(event.bytes) + "\"";
}

std::string UndecodedText(const SimEvent& event) {
  std::string line =
      "undecoded " + ByteCount(event.byteCount) + " (" + std::string(ReasonWords(event.reason)) + ")";
  if (event.IsCapped()) {
    line += ", first " + std::to_string(event.bytes.size());
  }
  return line + ": " + HexBytes(event.bytes, " ");
}

std::string EventText(const SimEvent& event) {
  std::string name(EventName(event.kind));
  switch (event.kind) {
  case EventKind::Speed:
  case EventKind::FirstLine:
  case EventKind::LastLine:
    return name + " " + std::to_string(event.value);
  case EventKind::ScrollType:
    return name + " " + std::to_string(event.value) + " (" + std::string(ScrollTypeName(event.value)) + ")";
  case EventKind::Text:
    return UploadText(event);
  case EventKind::Undecoded:
    return UndecodedText(event);
  case EventKind::ClosedMidText:
    return "connection closed mid-text (" + ByteCount(event.byteCount) +
           " of it so far): the display waits for the rest and its 00";
  case EventKind::Store:
  case EventKind::Reset:
  case EventKind::Open:
  case EventKind::Hangup:
    break;
  }
  return name;
}

std::string EventJson(const SimEvent& event) {
  JsonLine object = JsonEvent(EventName(event.kind), event.timeMs);
  switch (event.kind) {
  case EventKind::Speed:
  case EventKind::FirstLine:
  case EventKind::LastLine:
    object.Add("value", unsigned{event.value});
    break;
  case EventKind::ScrollType:
    object.Add("value", unsigned{event.value}).Add("name", ScrollTypeName(event.value));
    break;
  case EventKind::Text: {
    std::vector<Millis> starts;
    std::vector<std::size_t> sizes;
    for (const UploadPage& page : event.pages) {
      starts.push_back(page.startMs);
      sizes.push_back(page.bytes);
    }
    object.Add("bytes", event.byteCount)
        .Add("text", event.bytes, HighBytes::AsCodePoints)
        .Add("truncated", event.IsCapped())
        .Add("pages_ms", starts)
        .Add("page_bytes", sizes)
        .Add("end_ms", event.endMs);
    if (event.connections > 1) {
      object.Add("connections", event.connections);
    }
    break;
  }
  case EventKind::Undecoded:
    object.Add("bytes", event.byteCount)
        .Add("hex", HexBytes(event.bytes, ""))
        .Add("truncated", event.IsCapped())
        .Add("reason", ReasonName(event.reason));
    break;
  case EventKind::ClosedMidText:
    object.Add("bytes", event.byteCount);
    break;
  case EventKind::Store:
  case EventKind::Reset:
  case EventKind::Open:
  case EventKind::Hangup:
    break;
  }
  return object.Close();
}

} // namespace

std::string EscapeC(std::string_view bytes) {
  return EscapeBytes(bytes, [](std::string& out, std::string_view all, std::size_t at) -> std::size_t {
    const auto byte = static_cast<unsigned char>(all[at]);
    if (IsPrintableAscii(byte)) {
      out.push_back(all[at]);
    } else {
      out += "\\x";
      AppendHexByte(out, byte);
    }
    return 1;
  });
}

std::string HexBytes(std::string_view bytes, std::string_view separator) {
  std::string out;
  out.reserve(bytes.size() * (2 + separator.size()));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) {
      out += separator;
    }
    AppendHexByte(out, static_cast<unsigned char>(bytes[i]));
  }
  return out;
}

std::string_view ScrollTypeName(std::uint8_t value) {
  switch (value) {
  case 0:
    return "none";
  case 1:
    return "vertical";
  case 2:
    return "horizontal";
  default:
    return "unknown";
  }
}

std::string_view EventName(EventKind kind) {
  switch (kind) {
  case EventKind::Speed:
    return "speed";
  case EventKind::FirstLine:
    return "first-line";
  case EventKind::LastLine:
    return "last-line";
  case EventKind::ScrollType:
    return "scroll-type";
  case EventKind::Store:
    return "store";
  case EventKind::Reset:
    return "reset";
  case EventKind::Text:
    return "text";
  case EventKind::Undecoded:
    return "undecoded";
  case EventKind::Open:
    return "open";
  case EventKind::Hangup:
    return "hangup";
  case EventKind::ClosedMidText:
    return "closed-mid-text";
  }
  return "?";
}

std::string_view ReasonName(UndecodedReason reason) {
  switch (reason) {
  case UndecodedReason::NoMarker:
    return "no-marker";
  case UndecodedReason::UnknownCode:
    return "unknown-code";
  case UndecodedReason::Incomplete:
    return "incomplete";
  case UndecodedReason::UnterminatedUpload:
    return "unterminated-upload";
  }
  return "?";
}

std::string FormatEvent(const SimEvent& event, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return EventJson(event);
  }
  return TimePrefix(event.timeMs) + EventText(event);
}

std::string FormatPty(std::string_view slavePath, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return JsonEvent("pty", 0).Add("path", slavePath).Close();
  }
  return "pty " + std::string(slavePath);
}

std::string FormatLink(std::string_view linkPath, std::string_view target, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return JsonEvent("link", 0).Add("path", linkPath).Add("target", target).Close();
  }
  return "link " + std::string(linkPath) + " -> " + std::string(target);
}

std::string FormatListening(std::string_view url, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return JsonEvent("listening", 0).Add("url", url).Close();
  }
  return "listening " + std::string(url);
}

std::string FormatSerialLine(const SerialLine& line, Millis timeMs, OutputFormat format) {
  constexpr std::array<std::string_view, 6> kParityWords{"?", "none", "odd", "even", "mark", "space"};
  constexpr std::string_view kParityLetters = "?NOEMS";
  const std::size_t parity = line.parity < kParityWords.size() ? line.parity : 0;
  const std::string stop = line.stopBits == 3 ? "1.5" : std::to_string(line.stopBits);
  if (format == OutputFormat::Json) {
    return JsonEvent("line", timeMs)
        .Add("baud", line.baudRate)
        .Add("data_bits", line.dataBits)
        .Add("parity", kParityWords[parity])
        .Add("stop_bits", stop)
        .Close();
  }
  return TimePrefix(timeMs) + "line " + std::to_string(line.baudRate) + " " + std::to_string(line.dataBits) +
         kParityLetters[parity] + stop;
}

std::string FormatNotShown(std::size_t lines, std::size_t bytes, Millis timeMs, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return JsonEvent("not-shown", timeMs).Add("events", lines).Add("bytes", bytes).Close();
  }
  return TimePrefix(timeMs) + "not shown: " + std::to_string(lines) + (lines == 1 ? " event" : " events") +
         " from " + ByteCount(bytes) + " received, more than the output takes (it keeps to " +
         std::to_string(OutputBudget::kBytesPerSecond / 1024) + " KiB a second)";
}

std::string FormatExit(std::string_view reason, Millis timeMs, OutputFormat format) {
  if (format == OutputFormat::Json) {
    return JsonEvent("exit", timeMs).Add("reason", reason).Close();
  }
  return TimePrefix(timeMs) + "exit (" + std::string(reason) + ")";
}

} // namespace kv58::sim
