#pragma once
// The simulator's command line: what to link, how to print, what to answer and what to push
// at the program. Parsing only; nothing here opens a file or a terminal.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kv58_sim/event_format.h"
#include "tools/kv58_sim/frame_decoder.h"
#include "tools/kv58_sim/listen_address.h"

namespace kv58::sim {

// Whether this system has pseudo-terminals, and so --link. Where it has none (Windows), the
// simulator only listens: by default on kDefaultListenUrl.
#ifdef _WIN32
inline constexpr bool kPseudoTerminals = false;
#else
inline constexpr bool kPseudoTerminals = true;
#endif
inline constexpr std::string_view kDefaultListenUrl = "rfc2217://127.0.0.1:4001";

struct SimOptions {
  OutputFormat format = OutputFormat::Text;
  std::optional<std::string> linkName; // "COM201": the entry made in the port map directory
  std::vector<ListenAddress> listen;   // --listen: served instead of a pseudo-terminal
  std::string reply;                   // bytes that answer every decoded frame and upload
  std::optional<std::string> sendFile; // pushed once, after the program first opens the port
  std::string sendBytes;               // --send-hex, pushed after the file's bytes
  Millis sendDelayMs = 0;              // wait this long after the open before pushing
  bool exitOnHangup = false;
  DecoderLimits limits;
};

struct CommandLine {
  enum class Action { Run, ShowHelp, Fail };
  Action action = Action::Run;
  SimOptions options;
  std::string error; // for Fail: what was wrong, one line
};

// Parses the arguments after the program name.
[[nodiscard]] CommandLine ParseCommandLine(std::span<const std::string_view> args);

// Hex digits in pairs, e.g. "06", "0641", "06 41", "0x06,0x41", "06:41". None for an empty
// text, an odd digit count or a character that is not a digit or a separator.
[[nodiscard]] std::optional<std::string> ParseHexBytes(std::string_view hex);

// "COM" and a decimal number from 1 without leading zeros: the names the program looks up.
[[nodiscard]] bool IsComName(std::string_view name);

// The --help text.
[[nodiscard]] std::string UsageText();

} // namespace kv58::sim
