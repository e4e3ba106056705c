#include "tools/kv58/serve/serve_options.h"

#include <algorithm>
#include <charconv>
#include <tuple>

namespace kv58::serve {
namespace {

// An option of serve's own with its value, "--name VALUE" or "--name=VALUE"; `at` moves past it.
std::optional<std::string> ValueOf(std::string_view name, std::span<const std::string_view> args,
                                   std::size_t& at, std::string& error) {
  const std::string_view arg = args[at];
  if (arg.starts_with(std::string(name) + "=")) {
    return std::string(arg.substr(name.size() + 1));
  }
  if (at + 1 >= args.size()) {
    error = std::string(name) + " needs a value";
    return std::nullopt;
  }
  return std::string(args[++at]);
}

bool Is(std::string_view arg, std::string_view name) {
  return arg == name || arg.starts_with(std::string(name) + "=");
}

} // namespace

std::optional<std::pair<std::string, int>> ListenAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    return std::nullopt;
  }
  const std::string_view host = text.substr(0, colon);
  const std::string_view portText = text.substr(colon + 1);
  int port = -1;
  const auto [end, fault] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (fault != std::errc() || end != portText.data() + portText.size() || port < 0 || port > 65535 ||
      (host.find(':') != std::string_view::npos && !(host.starts_with('[') && host.ends_with(']')))) {
    return std::nullopt;
  }
  return std::pair<std::string, int>(std::string(host), port);
}

ServeCommandLine ParseServeCommandLine(std::span<const std::string_view> args) {
  ServeCommandLine line;
  ServeOptions options;
  options.args.assign(args.begin(), args.end());
  // What kv58's own parser reads; it takes a device command to be complete, so one is given
  // and left out of the options.
  std::vector<std::string> shared;
  for (std::size_t at = 0; at < args.size() && line.error.empty(); ++at) {
    const std::string_view arg = args[at];
    if (arg == "-h" || arg == "--help") {
      line.showHelp = true;
      return line;
    }
    if (Is(arg, "--schedule")) {
      options.schedule = ValueOf("--schedule", args, at, line.error);
    } else if (Is(arg, "--token-file")) {
      options.tokenFile = ValueOf("--token-file", args, at, line.error);
    } else if (Is(arg, "--listen")) {
      const auto text = ValueOf("--listen", args, at, line.error);
      const auto address = text ? ListenAddress(*text) : std::nullopt;
      if (text && !address) {
        line.error =
            "--listen takes HOST:PORT, such as " + std::string(kDefaultListen) + ", not \"" + *text + "\"";
      } else if (address) {
        std::tie(options.listenHost, options.listenPort) = *address;
      }
    } else if (arg == "--install-service") {
      options.installService = true;
    } else if (arg == "--uninstall-service") {
      options.uninstallService = true;
    } else if (arg == "--service") {
      options.asService = true;
    } else if (arg.starts_with("-")) {
      shared.emplace_back(arg);
      if (arg.find('=') == std::string_view::npos && at + 1 < args.size() && !args[at + 1].starts_with("-")) {
        shared.emplace_back(args[++at]);
      }
    } else {
      line.error = "serve takes options only, not \"" + std::string(arg) + "\"";
    }
  }
  if (!line.error.empty()) {
    return line;
  }
  shared.emplace_back("store");
  const std::vector<std::string_view> sharedArgs(shared.begin(), shared.end());
  cli::CommandLine parsed = cli::ParseCommandLine(sharedArgs);
  if (parsed.action != cli::CommandLine::Action::Run) {
    line.error = parsed.action == cli::CommandLine::Action::Fail ? parsed.error : "see kv58 serve --help";
    return line;
  }
  const cli::Request& request = parsed.request;
  if (!request.ports.empty() || request.json || request.dryRun || request.quiet ||
      !request.onlyTags.empty() || request.steps.size() != 1) {
    line.error = "serve takes --ports-file, --schedule, --listen, --token-file, --jobs, --retries, --baud "
                 "and the --tls options";
    return line;
  }
  if (!request.portsFile && !options.uninstallService) {
    line.error = "serve needs --ports-file FILE: the displays it serves";
    return line;
  }
  options.shared = request;
  options.shared.steps.clear();
  const bool retriesGiven = std::any_of(shared.begin(), shared.end(),
                                        [](const std::string& arg) { return arg.starts_with("--retries"); });
  if (!retriesGiven) {
    options.shared.retries = kDefaultRetries;
  }
  line.options = std::move(options);
  return line;
}

std::string ServeUsageText() {
  return "Usage: kv58 serve --ports-file FILE [--schedule FILE] [--listen HOST:PORT] [--token-file FILE]\n"
         "                  [--jobs N] [--retries N] [--baud RATE] [--tls-... as for kv58]\n"
         "       kv58 serve --install-service [the same options]   (Windows)\n"
         "       kv58 serve --uninstall-service                   (Windows)\n"
         "\n"
         "Serves the displays of a ports file until stopped: texts and settings on a schedule, and\n"
         "through a local HTTP API (version 1, JSON) on " +
         std::string(kDefaultListen) +
         " unless --listen says otherwise. Every request but\n"
         "GET /healthz needs 'Authorization: Bearer TOKEN'; without --token-file a token is made at first\n"
         "start in kv58's configuration folder, and its path is printed.\n"
         "\n"
         "  --ports-file FILE   the displays: NAME PORT [TAG...] a line, as for kv58 --ports-file\n"
         "  --schedule FILE     WHEN DISPLAYS WHAT a line: 'mon-fri 08:00 tag:hall text offer.txt'\n"
         "  --listen HOST:PORT  the API's address; an address other than loopback needs --token-file\n"
         "  --token-file FILE   the API's token, read from FILE\n"
         "  --jobs N            displays served at once\n"
         "  --retries N         further attempts of a job whose connection failed (default 3)\n"
         "\n"
         "One JSON line per display's finished job goes to standard output, with kv58 --json's fields\n"
         "and the job's number and source. SIGHUP (Linux) or POST /v1/reload reads the files again,\n"
         "keeping the old ones when a new one is refused. Ctrl+C or SIGTERM ends what is being sent (a\n"
         "text with its end), then exits 0.\n";
}

} // namespace kv58::serve
