#include "tools/kv58_sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <array>
#include <functional>
#include <vector>

#include "common/int_parse.h"
#include "tools/common/parse_error_text.h"

namespace kv58::sim {
namespace {

constexpr Millis kLongestWaitMs = 24LL * 60 * 60 * 1000;

std::optional<Millis> ParseMillis(std::string_view text, Millis minimum) {
  const auto value = text.starts_with('-') ? std::nullopt : WholeDecimal<Millis>(text);
  if (!value || *value < minimum || *value > kLongestWaitMs) {
    return std::nullopt;
  }
  return value;
}

// An option whose value goes through `take`, which throws the error the user reads.
void AddValueOption(CLI::App& app, const std::string& name, std::function<void(const std::string&)> take) {
  app.add_option_function<std::string>(name, std::move(take))
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void AddMillisOption(CLI::App& app, const std::string& name, Millis& target, Millis minimum) {
  AddValueOption(app, name, [&target, name, minimum](const std::string& value) {
    const std::optional<Millis> parsed = ParseMillis(value, minimum);
    if (!parsed) {
      throw CLI::ValidationError(name + " takes whole milliseconds from " + std::to_string(minimum) + " to " +
                                 std::to_string(kLongestWaitMs) + ", not \"" + value + "\"");
    }
    target = *parsed;
  });
}

void AddHexOption(CLI::App& app, const std::string& name, std::string& target) {
  AddValueOption(app, name, [&target, name](const std::string& value) {
    std::optional<std::string> bytes = ParseHexBytes(value);
    if (!bytes) {
      throw CLI::ValidationError(name + " takes hex bytes such as 06 or 0d0a, not \"" + value + "\"");
    }
    target = std::move(*bytes);
  });
}

// Every option of the simulator, each writing its field of `o` as it is parsed.
void DescribeOptions(CLI::App& app, SimOptions& o) {
  app.add_flag_callback("--json", [&o] { o.format = OutputFormat::Json; })->disable_flag_override();
  app.add_flag_callback("--exit-on-hangup", [&o] { o.exitOnHangup = true; })->disable_flag_override();
  AddValueOption(app, "--link", [&o](const std::string& value) {
    if (!IsComName(value)) {
      throw CLI::ValidationError("--link takes a port name such as COM7 (COM and a number from 1), not \"" +
                                 value + "\"");
    }
    o.linkName = value;
  });
  app.add_option_function<std::vector<std::string>>(
         "--listen",
         [&o](const std::vector<std::string>& values) {
           for (const std::string& value : values) {
             const std::optional<ListenAddress> address = ParseListenAddress(value);
             if (!address) {
               throw CLI::ValidationError("--listen takes " + std::string(ListenAddressRule()) + ", not \"" +
                                          value + "\"");
             }
             o.listen.push_back(*address);
           }
         })
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  AddHexOption(app, "--reply", o.reply);
  AddHexOption(app, "--send-hex", o.sendBytes);
  AddValueOption(app, "--send-file", [&o](const std::string& value) {
    if (value.empty()) {
      throw CLI::ValidationError("--send-file needs a file name");
    }
    o.sendFile = value;
  });
  AddMillisOption(app, "--send-delay", o.sendDelayMs, 0);
  AddMillisOption(app, "--frame-timeout", o.limits.frameTimeoutMs, 1);
  AddMillisOption(app, "--upload-timeout", o.limits.uploadTimeoutMs, 1);
  AddMillisOption(app, "--page-gap", o.limits.pageGapMs, 0);
}

CommandLine Failure(std::string error) {
  CommandLine result;
  result.action = CommandLine::Action::Fail;
  result.error = std::move(error);
  return result;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool IsHexSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ':'; }

// One group of digits between separators, with an optional 0x in front; appended to bytes.
bool AppendHexGroup(std::string_view group, std::string& bytes) {
  if (group.size() > 2 && group[0] == '0' && (group[1] == 'x' || group[1] == 'X')) {
    group.remove_prefix(2);
  }
  if (group.empty() || group.size() % 2 != 0) {
    return false;
  }
  for (std::size_t i = 0; i < group.size(); i += 2) {
    const int high = HexDigitValue(group[i]);
    const int low = HexDigitValue(group[i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

} // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine result;
  CLI::App app("kv58-sim", "kv58-sim");
  app.set_help_flag("-h,--help");
  app.allow_extras(); // reported below as the first word that is no option
  DescribeOptions(app, result.options);

  std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.action = CommandLine::Action::ShowHelp;
    return result;
  } catch (const CLI::ParseError& error) {
    return Failure(ParseErrorText(error));
  }
  if (const std::vector<std::string> extra = app.remaining(); !extra.empty()) {
    return Failure("unknown option \"" + extra.front() + "\"");
  }
  if (result.options.linkName && !kPseudoTerminals) {
    return Failure("--link names a pseudo-terminal, which this system does not have: use --listen");
  }
  if (result.options.linkName && !result.options.listen.empty()) {
    return Failure("--link names the pseudo-terminal, which --listen does not open: use one or the other");
  }
  if (result.options.listen.empty() && !kPseudoTerminals) {
    result.options.listen.push_back(*ParseListenAddress(kDefaultListenUrl));
  }
  return result;
}

std::optional<std::string> ParseHexBytes(std::string_view hex) {
  std::string bytes;
  std::size_t pos = 0;
  while (pos < hex.size()) {
    if (IsHexSeparator(hex[pos])) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    while (end < hex.size() && !IsHexSeparator(hex[end])) {
      ++end;
    }
    if (!AppendHexGroup(hex.substr(pos, end - pos), bytes)) {
      return std::nullopt;
    }
    pos = end;
  }
  if (bytes.empty()) {
    return std::nullopt;
  }
  return bytes;
}

bool IsComName(std::string_view name) {
  constexpr std::string_view kPrefix = "COM";
  constexpr std::size_t kMostDigits = 9; // stays within the program's 32-bit port numbers
  if (!name.starts_with(kPrefix)) {
    return false;
  }
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.empty() || digits.size() > kMostDigits || digits.front() == '0') {
    return false;
  }
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

namespace {

// The --help text's parts; the pseudo-terminal's are left out where there is none.
constexpr std::string_view kUsageIntroPosix = R"usage(Usage: kv58-sim [OPTION]...
Stand-in for the KV-58 scrolling text display: opens a pseudo-terminal (or listens as a
device server would, with --listen), shows every command frame and text upload that
arrives as one line, and can answer.

Options:
  --link COMn          make the port known to the controller as COMn: a symbolic link
                       named COMn in the port map directory, pointing at the terminal;
                       removed again when the simulator ends
  --listen URL         stand in for a display behind a device server instead of opening
                       a pseudo-terminal: URL is rfc2217://HOST:PORT (Telnet with RFC
                       2217) or tcp://HOST:PORT (raw bytes; socket:// is the same). HOST
                       left out (tcp://:4001) is 127.0.0.1; PORT 0 takes any free port.
                       Repeatable: each address is a display of its own
)usage";

constexpr std::string_view kUsageIntroWindows = R"usage(Usage: kv58-sim [OPTION]...
Stand-in for the KV-58 scrolling text display behind a device server: listens on a TCP
port of this computer, shows every command frame and text upload that arrives as one
line, and can answer. The controller and kv58 reach it by its address, typed as the port.
(The pseudo-terminal and --link of the Linux simulator do not exist on Windows.)

Options:
  --listen URL         where to listen (rfc2217://127.0.0.1:4001 when not given): URL is
                       rfc2217://HOST:PORT (Telnet with RFC 2217) or tcp://HOST:PORT (raw
                       bytes; socket:// is the same). HOST left out (tcp://:4001) is
                       127.0.0.1; PORT 0 takes any free port. Repeatable: each address is
                       a display of its own
)usage";

constexpr std::string_view kUsageOptions =
    R"usage(  --json               print JSON lines instead of text lines
  --reply HEX          answer every decoded frame and every finished upload with these
                       bytes, e.g. --reply 06 or --reply "4f 4b 0d 0a"
  --send-file FILE     push the file's bytes at the program once, when it first opens
                       the port (read at start, so a missing file fails at once); a
                       regular file of at most 1048576 bytes (1 MiB)
  --send-hex HEX       push these bytes once, as --send-file does (after the file's bytes)
  --send-delay MS      wait MS milliseconds after that first open before pushing (0)
  --exit-on-hangup     end when the program closes the port; by default the simulator
                       reports "hangup" and waits for the next open
  --frame-timeout MS   give up a command frame after MS of silence in its middle (500)
  --upload-timeout MS  give up an upload without its closing 0x00 after MS of silence
                       (5000; the controller pauses 1000 ms after every page)
  --page-gap MS        a pause longer than MS between upload bytes starts a new page (200)
  -h, --help           show this text

HEX is pairs of hex digits; blanks, commas and colons may separate them and each group
may start with 0x.
)usage";

constexpr std::string_view kUsagePortMap = R"usage(
The port map directory is ${XDG_CONFIG_HOME:-~/.config}/kv58/ports/. The controller looks
there first for COMn: a link made with --link is how it finds the simulator. The directory
is created when missing. A stale link (its target gone) is replaced; a link that still
points at an existing device is left alone and the simulator refuses to start.
)usage";

constexpr std::string_view kUsageDecoded = R"usage(
What is decoded (every command opens with the marker 0xFF):
  FF 03 n   speed n              FF 07 text 00   text upload
  FF 04 n   first-line n         FF 08           store
  FF 05 n   last-line n          FF 09           reset
  FF 06 n   scroll-type n (0 none, 1 vertical, 2 horizontal)
Anything else is reported as undecoded, never dropped: bytes before a marker, an unknown
code, a frame cut short by silence or by the port closing, an upload that never ends.

Text output, one line per event, the time in ms since the simulator started:
)usage";

constexpr std::string_view kUsagePtyLines = R"usage(  pty /dev/pts/3
  link /home/me/.config/kv58/ports/COM7 -> /dev/pts/3
)usage";

constexpr std::string_view kUsageEvents = R"usage(  [     12 ms] open
  [   1234 ms] speed 4
  [   1500 ms] scroll-type 2 (horizontal)
  [   2000 ms] text 300 bytes, pages at 0, 1003 ms (256 + 44 bytes), end at 2004 ms: "Hello\n..."
  [   4100 ms] undecoded 3 bytes (no marker): 41 42 43
  [   5000 ms] hangup
  [   6000 ms] exit (SIGTERM)
An event's time is when its first byte arrived. "open": a program opened the port (seen
within about 20 ms); "hangup": the last one closed it. The port is then made ready for
the next program (raw, not held exclusive, nothing left over from before) and the
simulator goes on serving.
Text is shown C-style: printable ASCII as is, \" \\ \n \r \t, any other byte as \xNN.
Page times count from the upload's FF; an upload keeps at most 4096 bytes for showing
("first 4096 shown") but counts them all.

JSON output (--json), one object per line:
)usage";

constexpr std::string_view kUsagePtyJson = R"usage(  {"t_ms":0,"event":"pty","path":"/dev/pts/3"}
  {"t_ms":0,"event":"link","path":".../COM7","target":"/dev/pts/3"}
)usage";

constexpr std::string_view kUsageJson = R"usage(  {"t_ms":12,"event":"open"}
  {"t_ms":1234,"event":"speed","value":4}
  {"t_ms":1500,"event":"scroll-type","value":2,"name":"horizontal"}
  {"t_ms":2000,"event":"text","bytes":300,"text":"...","truncated":false,
   "pages_ms":[0,1003],"page_bytes":[256,44],"end_ms":2004}
  {"t_ms":4100,"event":"undecoded","bytes":3,"hex":"414243","truncated":false,
   "reason":"no-marker"}   (or "unknown-code", "incomplete", "unterminated-upload")
  {"t_ms":5000,"event":"hangup"}
  {"t_ms":6000,"event":"exit","reason":"SIGTERM"}
Other events: "first-line", "last-line", "store", "reset". In "text" every byte is the
character of the same number (U+0000 to U+00FF), so the bytes come back exactly.

Network (--listen): the first lines say where the simulator listens, one per address:
  listening rfc2217://127.0.0.1:40123
  {"t_ms":0,"event":"listening","url":"rfc2217://127.0.0.1:40123"}
On a terminal, a line after them (text output only) tells what to type in the controller.
A client connecting is the port's open, its leaving the hang-up; each address takes one
client at a time, and a second one is told "Port already in use" and closed, as a busy
device server does. Over RFC 2217 the simulator offers SUPPRESS-GO-AHEAD and BINARY
both ways and asks for COM-PORT-OPTION, refuses other options, doubles 0xFF in what it
sends and takes doubled 0xFF as one byte, and answers each line setting with the value
it then holds. Once the rate, data size, parity and stop size have come it says so:
  [     15 ms] line 9600 8N1
  {"t_ms":15,"event":"line","baud":9600,"data_bits":8,"parity":"none","stop_bits":"1"}
With several addresses each event line carries its address after the time, e.g.
"[   1234 ms] tcp://127.0.0.1:4001 speed 4"; in JSON a first key "listen".
The display behind an address keeps its state when a client's connection closes, as a
display behind a device server never sees that close: a frame or a text under way takes
the next client's bytes as if nothing had happened. A close in the middle of a text (FF 07
came, its 00 not yet) is said before the hang-up, and that text's line then counts its
connections:
  [   5000 ms] connection closed mid-text (1200 bytes of it so far): the display waits
               for the rest and its 00
  {"t_ms":5000,"event":"closed-mid-text","bytes":1200}
  [   7000 ms] text 3185 bytes over 2 connections, pages at ...
  {"t_ms":2000,"event":"text","bytes":3185,...,"connections":2}
A client that vanishes without closing (its computer off, its cable pulled) is noticed by
TCP keepalive: its address is free again within 30 s.
What one address prints is bounded: after a first 256 KiB, 32 KiB a second. Events
beyond that are counted and summed up in one line once there is room again:
  [   9000 ms] not shown: 52000 events from 104000 bytes received, more than the output
               takes (it keeps to 32 KiB a second)
  {"t_ms":9000,"event":"not-shown","events":52000,"bytes":104000}
Each address holds two open files; the simulator raises its limit of open files as far
as the system allows and refuses to start when its addresses do not fit.
RFC 2217 and raw TCP carry no authentication and no encryption: whoever reaches the
address can drive the display. Keep to 127.0.0.1 unless the network is yours; an address
other computers can reach (0.0.0.0, [::], a network card's address) is warned about at
start.

Every line is written as soon as its event happens, so a pipe sees it at once. Messages
about problems go to standard error.)usage";

constexpr std::string_view kUsageEndingPosix = R"usage( The simulator ends on SIGINT, SIGTERM or SIGHUP (and
with --exit-on-hangup when the program closes the port), removing its link; exit status
0 then, 1 when it cannot run, 2 for a wrong command line. Killed with SIGKILL it cannot
remove its link; the next start replaces that stale link.

Examples:
  kv58-sim --link COM7
      then pick COM7 in the controller and tick the connect box
  kv58-sim --link COM7 --json --reply 06 > events.jsonl
  kv58-sim --link COM7 --send-hex "4f 4b 0d 0a" --send-delay 500
  kv58-sim --listen rfc2217://127.0.0.1:4001 --listen tcp://127.0.0.1:4002
      then kv58 --port rfc2217://127.0.0.1:4001 ...
)usage";

constexpr std::string_view kUsageEndingWindows =
    R"usage( The simulator ends on Ctrl+C, on Ctrl+Break or when its
console window is closed (and with --exit-on-hangup when the program closes the port);
the exit line then names it, e.g. "exit (Ctrl+C)". Exit status 0 then, 1 when it cannot
run (the port taken by another program, say), 2 for a wrong command line.

Examples:
  kv58-sim
      listens on rfc2217://127.0.0.1:4001: type that address into the controller's
      PORT box and tick the connect box
  kv58-sim --listen rfc2217://127.0.0.1:4001 --listen rfc2217://127.0.0.1:4002
      two displays, e.g. for kv58 --port rfc2217://127.0.0.1:4001 --port
      rfc2217://127.0.0.1:4002 store
  kv58-sim --json --reply 06 > events.jsonl
)usage";

constexpr std::array kUsagePosix{kUsageIntroPosix, kUsageOptions,  kUsagePortMap,
                                 kUsageDecoded,    kUsagePtyLines, kUsageEvents,
                                 kUsagePtyJson,    kUsageJson,     kUsageEndingPosix};
constexpr std::array kUsageWindows{kUsageIntroWindows, kUsageOptions, kUsageDecoded,
                                   kUsageEvents,       kUsageJson,    kUsageEndingWindows};

std::string Joined(std::span<const std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) {
    text += part;
  }
  return text;
}

} // namespace

std::string UsageText() { return kPseudoTerminals ? Joined(kUsagePosix) : Joined(kUsageWindows); }

} // namespace kv58::sim
