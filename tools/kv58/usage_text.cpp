#include "tools/kv58/usage_text.h"

#include "tools/common/json_line.h"
#include "tools/kv58/failure_kind.h"
#include "tools/kv58/outcome.h"

namespace kv58::cli {
namespace {

// `text` in lines of at most `width` columns, each indented by `indent`.
std::string WrappedText(std::string_view text, std::size_t indent, std::size_t width) {
  std::string wrapped;
  std::string line;
  const auto endLine = [&] {
    wrapped += std::string(indent, ' ') + line + '\n';
    line.clear();
  };
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      endLine();
    }
    line += (line.empty() ? "" : " ") + std::string(word);
    text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
  }
  endLine();
  return wrapped;
}

} // namespace

std::string UsageText() {
  return R"(Usage: kv58 [OPTION]... COMMAND [ARGUMENT]... [COMMAND [ARGUMENT]...]...
Drive the KV-58 scrolling text display on a serial port from the command line or from a
script: send it a text, change its settings, or watch what it sends back. Commands run
in the order given, each with the same frames and pauses as the control panel's window,
so several settings go out in one call:  kv58 --port COM5 speed 4 scroll horizontal store

Commands:
  ports              list the serial ports in the order the window lists them, each with
                     the device it maps to; stands alone
  send FILE          upload the text in FILE, sent as it is stored, at most 1983 bytes:
                     FF 07, the text in pages of 256 bytes with a pause of 1 s after each
                     page, then 00. FILE must be a regular file; "-" reads standard input
                     (at most 1983 bytes). On a terminal a progress bar shows the page
                     and the seconds left. The upload stops at the first page the port
                     does not take; "text FILE" says the same
  send --template FILE
                     the same, with fields of the text filled in with the local date and
                     time when kv58 reads it: {date} 2026-03-29, {time} 08:05, {weekday}
                     Sunday (English, in ASCII), {date:FORMAT} or {time:FORMAT} with the
                     number fields of strftime (%d %m %Y %y %C %H %I %M %S %j %e %u %w
                     %U %W %G %g %V %F %T %R %D %%, no names), and {{ for a {. Any other
                     { or } stays. At most 1983 bytes once filled in
  speed N            scroll speed N, 0 to 16: FF 03 N
  lines FIRST LAST   first and last display line, 1 to 22, FIRST not after LAST. The
                     display must never hold a first line after its last one, and kv58
                     does not know the lines it holds now, so three frames go out: last
                     line 22 (FF 05 16), then first line FIRST (FF 04 FIRST), then last
                     line LAST (FF 05 LAST); the third is left out when LAST is 22
  scroll TYPE        kind of scroll, TYPE none, vertical or horizontal: FF 06 00, 01 or
                     02, a pause of 10 ms, then the reset FF 09 that the display needs
                     to take it
  store              store the settings in the display's memory: FF 08
  reset              reset the display: FF 09
  monitor [--hex]    print what the device sends, until interrupted (Ctrl+C): as it
                     comes, or with --hex as hex bytes, a line per read; the last command

Options:
  --port PORT        the display's port: COMn, or rfc2217://HOST:PORT or tcp://HOST:PORT for
                     one behind a device server, rfc2217+tls:// or tcp+tls:// for one
                     reached inside TLS (see "Ports"); without it, the environment variable
                     KV58_PORT. Give it again for each further display: the commands go
                     to every display at once
  --ports-file FILE  the displays, one a line: a port, or a name and a port, then tags
                     ("hall-1 rfc2217://10.0.0.5:4001 hall ground-floor"); # begins a
                     comment. A regular file of at most 16 MiB, lines of at most 4096
                     bytes. The same display twice is refused before anything is sent
                     (a host name in any case, by either mode)
  --only TAG         only the displays of the ports file that carry TAG; give it again
                     for more tags (a display carrying any of them is served); needs
                     --ports-file
  --jobs N           serve at most N displays at once (default: all of them), within
                     the system's limit of open files, which kv58 raises first
  --retries N        try a display whose connection could not be made or was lost (or
                     whose port was in use) up to N more times, 0 to 10 (default 0),
                     after 1 s, 2 s, 4 s ... and a random part; each try sends all its
                     commands again from the first (a text whole). A display that an
                     attempt left inside a text (the connection lost mid-text) first gets
                     that text's end (00), so the texts never run into each other. Only
                     the kinds marked "retried" below are tried again
  --tls-pin SHA256:HEX, --tls-ca FILE, --tls-name NAME, --tls-cert FILE, --tls-key FILE
                     for every +tls port that has none of its own: the options pin=,
                     ca=, name=, cert= and key= of the port name. A port's own pin= or
                     ca= wins over both --tls-pin and --tls-ca, its cert= over --tls-cert
                     and --tls-key
  --json             the report as JSON Lines on standard output, one object a display
                     in the order given (see "Many displays"); "kv58 ports --json" lists
                     the ports as {"port":...,"device":...}
  --baud N           line speed in bits per second (default 9600), written as the window
                     takes it: decimal, or hex after $ or 0x. The line is always 8 data
                     bits, no parity, one stop bit, no flow control
  --dry-run          print the frames in hex, one per line, and the pauses between
                     them, without opening a port (no port needs to be given)
  -q, --quiet        print only errors: no progress bar, no line per command sent
  -h, --help         show this text and exit
  --version          show the version and exit

Ports:
  The port is opened for kv58 alone: while another program holds it, kv58 sends nothing
  and ends with status 1. On Windows COMn is the system's port of that name. On Linux COMn
  is the entry COMn of the port map directory ${XDG_CONFIG_HOME:-~/.config}/kv58/ports/
  (normally a link to a device), else by a fixed rule COM1-COM32 are /dev/ttyS0-31,
  COM33-COM64 /dev/ttyUSB0-31, COM65-COM96 /dev/ttyACM0-31 and COM97-COM128 /dev/ttyAMA0-31.
  rfc2217://HOST:PORT reaches a display behind a serial-to-Ethernet device server with
  Telnet COM-PORT-OPTION (RFC 2217), which also carries the line speed; tcp://HOST:PORT
  (or socket://) with raw bytes, where the server's own line settings apply. On tcp:// the
  pauses between pages count from when the server's system took the bytes, so a stalled
  server can pass pages on in one burst; rfc2217:// keeps them, on every system, and is the
  one to use. Neither has any authentication or encryption: keep such device servers on a
  private network, or reach them inside TLS: rfc2217+tls://HOST:PORT and tcp+tls://HOST:PORT
  (TLS 1.2 or later), with options as a query, ?pin=SHA256:HEX&ca=FILE&name=NAME&cert=FILE
  &key=FILE ("%26" for & in a path). The server's certificate is trusted when it is the
  pinned one (pin=, its SHA-256 as "openssl x509 -noout -fingerprint -sha256" prints it:
  colons and case do not matter; a pin decides alone), else when the CA in FILE vouches for
  it (ca=, only that CA), else when the system's CA certificates do; without a pin it must
  also carry the host's name, or name=. cert= and key= (PEM) present a client certificate
  to a server that asks for one. kv58 never trusts a certificate on first use: a refusal
  says its fingerprint and the pin= that would trust it. Reports show the port without
  its options. A vendor's virtual COM driver needs nothing of kv58: use the COMn it gives.

Many displays:
  With several displays, one line on a terminal shows how many are done, failed or in
  progress, and at the end a line per display says "done", "partial: ..." when it holds
  part of a text (and whether the text has its end), "failed: ..." with how far it got,
  "not reachable: ..." with the reason, "interrupted: ..." or "not started" when Ctrl+C
  came first. A display that fails never stops the others. A note that several displays
  share (a tcp:// port's line settings) is said once, after the lines.
  With --json, each display is one object with these fields, kept stable for scripts:
    name       the name from the ports file, or the port
    port       the port as kv58 writes it (COM5, rfc2217://10.0.0.5:4001)
    status     )" +
         OutcomeWordsText() + R"(
    kind       what failed (absent when done or stopped), one of:
)" + KindsHelpText(6, 89) +
         R"(    message    the words of the text report
    pages_sent the pages of the last text the display holds, pages, the text's pages,
               and text_ended, false when the display was left inside the text
               (only with send)
    earlier    what the display showed between attempts, when one left it inside a
               text that a later one ended (only then)
    attempts   how many times the display's commands were begun
    seconds    from the first attempt to the end
    notes      what the port could not do as asked, as a list of texts
)" + WrappedText(kJsonTextRule, 2, 89) +
         R"(
Exit status:
  0  every command was sent (to every display)
  1  device or port error (partial, failed, not reachable): the port does not exist,
     another program holds it, it refused the line settings, or it stopped taking bytes
     (for example, the device was unplugged); the commands before the failing one were
     sent, none after it
  2  usage error: a wrong command line, no port given, or a text that cannot be read, is
     longer than 1983 bytes or holds a 00 byte (the display would end the text there and
     take what follows as commands); nothing was sent
  130, 143
     interrupted by Ctrl+C (SIGINT) or SIGTERM, whatever kv58 was doing (a look-up, a
     connection, a wait before a retry, monitor): the command being sent ends whole (a
     text after the page being written and its pause, with its end, so the display keeps
     the pages so far), nothing after it is sent and no further port is opened; kv58 ends
     within about a second whatever a device server does. A second Ctrl+C stops every
     wait at once (the text still gets its end if the line takes it) and prints the
     report; a third ends kv58 as the signal would

Environment:
  KV58_PORT          the port to use when --port is not given, e.g. COM5

Examples:
  kv58 ports
                     the ports there are
  kv58 --port COM5 send offer.txt
                     show the text in offer.txt
  kv58 --port COM5 speed 4 lines 3 9 scroll horizontal store
                     four settings in one call, then keep them
  echo "Open 9-17" | kv58 --port COM5 send -
                     show a text made by a script
  kv58 --dry-run lines 3 9
                     see the frames without sending them
  kv58 --port COM5 monitor --hex
                     watch what the display sends, until Ctrl+C
)";
}

std::string VersionText() { return "kv58 " KV58_VERSION; }

} // namespace kv58::cli
