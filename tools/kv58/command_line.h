#pragma once
// kv58's command line: the options, and the device actions in the order given. Parsing only;
// nothing here reads a file, the environment or a port.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_name.h"
#include "tools/kv58/outcome.h"

namespace kv58::cli {

// One action on the device, as given on the command line.
struct Step {
  enum class Kind { Speed, Lines, Scroll, Store, Reset, Send, Monitor };
  Kind kind = Kind::Store;
  std::int32_t value = 0;    // Speed: 0..16; Lines: the first line; Scroll: 0 none, 1 vertical, 2 horizontal
  std::int32_t lastLine = 0; // Lines only
  std::string file;          // Send only: a path, or "-" for standard input
  bool hex = false;          // Monitor only: bytes as hex instead of text
  bool templated = false;    // Send only: {date}, {time}, ... filled in when the text is sent
};

struct Request {
  // --port, once per display, in the order given; KV58_PORT is consulted only when there is
  // neither a --port nor a --ports-file.
  std::vector<PortName> ports;
  std::optional<std::string> portsFile; // --ports-file: one display a line
  std::size_t jobs = 0;                 // --jobs: displays served at once; 0 for all of them
  int retries = 0;                      // --retries: further attempts for a connection not made or lost
  bool json = false;                    // --json: the report as JSON Lines
  std::vector<std::string> onlyTags;    // --only: the displays of the ports file carrying any of these
  TlsSettings tlsDefaults;              // --tls-pin, --tls-ca, ...: for every +tls port without its own
  std::int32_t baudRate = 9600;
  bool dryRun = false;
  bool quiet = false;
  bool listPorts = false; // the `ports` command, which stands alone
  std::vector<Step> steps;
};

struct CommandLine {
  enum class Action { Run, ShowHelp, ShowVersion, Fail };
  Action action = Action::Run;
  Request request;
  std::string error; // for Fail: what was wrong, one line
};

// Parses the arguments after the program name.
[[nodiscard]] CommandLine ParseCommandLine(std::span<const std::string_view> args);

// `port` with `defaults` where it gives none of its own: a TLS port's trust (pin or CA file) as
// a whole, its expected name, and its client certificate and key as a pair. A port in clear
// is returned as it is.
[[nodiscard]] PortName WithTlsDefaults(const PortName& port, const TlsSettings& defaults);

// A port name as --port, KV58_PORT and ports files take it: "COM" in any case and a number
// from 1 in decimal (com05 is COM5), or a network port name. None for anything else.
[[nodiscard]] std::optional<PortName> CommandLinePort(std::string_view name);

} // namespace kv58::cli
