#include "tools/kv58/command_line.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <utility>

#include "common/int_parse.h"
#include "protocol/device_command.h"
#include "tools/common/parse_error_text.h"

namespace kv58::cli {
namespace {

// 1 + 2 + ... + 512 s of waiting at most: a display is given up on within the hour.
constexpr std::int32_t kMaxRetries = 10;

Step StepOf(Step::Kind kind, std::int32_t value = 0, std::int32_t lastLine = 0) {
  Step step;
  step.kind = kind;
  step.value = value;
  step.lastLine = lastLine;
  return step;
}

// "0 to 16": a range as the messages give it.
std::string RangeText(std::int32_t lowest, std::int32_t highest) {
  return std::to_string(lowest) + " to " + std::to_string(highest);
}

[[noreturn]] void Refuse(const std::string& message) { throw CLI::ValidationError(message); }

std::int32_t NumberInRange(std::string_view command, std::string_view what, const std::string& text,
                           std::int32_t lowest, std::int32_t highest) {
  const auto value = WholeDecimal<std::int32_t>(text);
  if (!value || *value < lowest || *value > highest) {
    Refuse(std::string(command) + ": " + std::string(what) + " is a whole number from " +
           RangeText(lowest, highest) + ", not \"" + text + "\"");
  }
  return *value;
}

std::int32_t ScrollValue(const std::string& text) {
  for (std::int32_t value = 0; value < kScrollTypeCount; ++value) {
    if (text == ScrollTypeName(value)) {
      return value;
    }
  }
  Refuse("scroll: the type is none, vertical or horizontal, not \"" + text + "\"");
}

// The line speed as the window reads its speed box (decimal, or hex after $ or 0x), but a
// text that is no number, or no positive one, is refused rather than taken as 500000.
std::int32_t BaudRate(const std::string& text) {
  const std::int32_t value = ToIntOrDefault(text, 0);
  if (value <= 0) {
    Refuse("--baud takes a line speed in bits per second such as 9600, not \"" + text + "\"");
  }
  return value;
}

// A command that appends its step each time it is given, so that repeats and order count.
CLI::App* AddCommand(CLI::App& app, Request& request, const std::string& name, const std::string& about,
                     std::function<Step()> makeStep) {
  CLI::App* command = app.add_subcommand(name, about);
  command->fallthrough(); // the options may stand anywhere, also after a command
  command->immediate_callback();
  command->callback([&request, makeStep = std::move(makeStep)] { request.steps.push_back(makeStep()); });
  return command;
}

// The value after a command, held as text and judged by the command's callback.
void AddValue(CLI::App* command, const std::string& name, std::string& text) {
  command->add_option(name, text);
}

// The text a command was given, taken away so that a repeat of the command starts afresh.
std::string Take(std::string& text, std::string_view command, std::string_view missing) {
  if (text.empty()) {
    Refuse(std::string(command) + " needs " + std::string(missing) + " (see kv58 --help)");
  }
  return std::exchange(text, std::string());
}

void DescribeCommands(CLI::App& app, Request& request) {
  struct Texts {
    std::string speed, first, last, scroll, file;
    bool hex = false;
    bool templated = false;
  };
  auto texts = std::make_shared<Texts>();

  CLI::App* speed = AddCommand(app, request, "speed", "scroll speed", [texts] {
    const std::string text = Take(texts->speed, "speed", "the speed, " + RangeText(kMinSpeed, kMaxSpeed));
    return StepOf(Step::Kind::Speed, NumberInRange("speed", "the speed", text, kMinSpeed, kMaxSpeed));
  });
  AddValue(speed, "N", texts->speed);

  CLI::App* lines = AddCommand(app, request, "lines", "first and last display line", [texts] {
    const std::string firstText =
        Take(texts->first, "lines", "the first and the last line, " + RangeText(kTopLine, kBottomLine));
    const std::string lastText =
        Take(texts->last, "lines", "the last line too, " + RangeText(kTopLine, kBottomLine));
    const std::int32_t first = NumberInRange("lines", "the first line", firstText, kTopLine, kBottomLine);
    const std::int32_t last = NumberInRange("lines", "the last line", lastText, kTopLine, kBottomLine);
    if (first > last) {
      Refuse("lines: the first line (" + firstText + ") comes after the last line (" + lastText + ")");
    }
    return StepOf(Step::Kind::Lines, first, last);
  });
  AddValue(lines, "FIRST", texts->first);
  AddValue(lines, "LAST", texts->last);

  CLI::App* scroll = AddCommand(app, request, "scroll", "kind of scroll", [texts] {
    return StepOf(Step::Kind::Scroll,
                  ScrollValue(Take(texts->scroll, "scroll", "the type: none, vertical or horizontal")));
  });
  AddValue(scroll, "TYPE", texts->scroll);

  (void)AddCommand(app, request, "store", "store the settings", [] { return StepOf(Step::Kind::Store); });
  (void)AddCommand(app, request, "reset", "reset the display", [] { return StepOf(Step::Kind::Reset); });

  CLI::App* send = AddCommand(app, request, "send", "upload a text file", [texts] {
    Step step = StepOf(Step::Kind::Send);
    step.file = Take(texts->file, "send", "a file name, or - for standard input");
    step.templated = std::exchange(texts->templated, false);
    return step;
  });
  AddValue(send, "FILE", texts->file);
  send->alias("text"); // as schedules and the window's words say it
  send->add_flag("--template", texts->templated)->disable_flag_override();

  CLI::App* monitor = AddCommand(app, request, "monitor", "print what the device sends", [texts] {
    Step step = StepOf(Step::Kind::Monitor);
    step.hex = std::exchange(texts->hex, false);
    return step;
  });
  monitor->add_flag("--hex", texts->hex)->disable_flag_override();

  CLI::App* ports = app.add_subcommand("ports", "list the serial ports");
  ports->fallthrough();
  ports->callback([&request] { request.listPorts = true; });
}

void DescribeOptions(CLI::App& app, Request& request) {
  app.add_option_function<std::vector<std::string>>("--port",
                                                    [&request](const std::vector<std::string>& names) {
                                                      for (const std::string& name : names) {
                                                        const auto port = CommandLinePort(name);
                                                        if (!port) {
                                                          Refuse("--port takes a port name, not \"" + name +
                                                                 "\": " + PortNameRuleText());
                                                        }
                                                        request.ports.push_back(*port);
                                                      }
                                                    })
      ->expected(1) // one port after each --port; give --port again for the next display
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option_function<std::string>("--ports-file",
                                       [&request](const std::string& file) { request.portsFile = file; })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option_function<std::string>(
         "--jobs",
         [&request](const std::string& text) {
           const auto jobs = WholeDecimal<std::int32_t>(text);
           if (!jobs || *jobs < 1) {
             Refuse("--jobs takes how many displays to serve at once, a whole number from 1, not \"" + text +
                    "\"");
           }
           request.jobs = static_cast<std::size_t>(*jobs);
         })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option_function<std::string>(
         "--retries",
         [&request](const std::string& text) {
           const auto retries = WholeDecimal<std::int32_t>(text);
           if (!retries || *retries < 0 || *retries > kMaxRetries) {
             Refuse("--retries takes how many more times to try a display, a whole number from 0 to " +
                    std::to_string(kMaxRetries) + ", not \"" + text + "\"");
           }
           request.retries = *retries;
         })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option_function<std::vector<std::string>>("--only",
                                                    [&request](const std::vector<std::string>& tags) {
                                                      request.onlyTags.insert(request.onlyTags.end(),
                                                                              tags.begin(), tags.end());
                                                    })
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option_function<std::string>("--tls-pin",
                                       [&request](const std::string& text) {
                                         const auto pin = ParseCertificatePin(text);
                                         if (!pin) {
                                           Refuse("--tls-pin takes a certificate's SHA-256, SHA256: and 64 "
                                                  "hex digits (colons allowed), not \"" +
                                                  text + "\"");
                                         }
                                         request.tlsDefaults.pinSha256 = *pin;
                                       })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  const auto fileOption = [&app](const char* name, std::string& into) {
    app.add_option_function<std::string>(name,
                                         [name, &into](const std::string& text) {
                                           if (text.empty()) {
                                             Refuse(std::string(name) + " takes a non-empty value");
                                           }
                                           into = text;
                                         })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  };
  fileOption("--tls-ca", request.tlsDefaults.caFile);
  fileOption("--tls-name", request.tlsDefaults.expectedName);
  fileOption("--tls-cert", request.tlsDefaults.certFile);
  fileOption("--tls-key", request.tlsDefaults.keyFile);
  app.add_flag("--json", request.json)->disable_flag_override();
  app.add_option_function<std::string>(
         "--baud", [&request](const std::string& text) { request.baudRate = BaudRate(text); })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("--dry-run", request.dryRun)->disable_flag_override();
  app.add_flag("-q,--quiet", request.quiet)->disable_flag_override();
}

// What can only be judged once the whole line is read.
std::optional<std::string> CheckTheWhole(const Request& request) {
  if (!request.tlsDefaults.keyFile.empty() && request.tlsDefaults.certFile.empty()) {
    return "--tls-key needs --tls-cert: the key belongs to a client certificate";
  }
  if (request.listPorts) {
    return request.steps.empty() ? std::nullopt
                                 : std::optional<std::string>("ports stands alone: list the ports, then "
                                                              "give the device commands in a second call");
  }
  if (request.steps.empty()) {
    return "no command given: say what to send, e.g. kv58 --port COM5 speed 4";
  }
  std::size_t fromInput = 0;
  for (std::size_t i = 0; i < request.steps.size(); ++i) {
    const Step& step = request.steps[i];
    if (step.kind == Step::Kind::Monitor && i + 1 != request.steps.size()) {
      return "monitor runs until interrupted, so it must be the last command";
    }
    if (step.kind == Step::Kind::Send && step.file == "-" && ++fromInput > 1) {
      return "send - reads standard input, which can be read only once";
    }
  }
  return std::nullopt;
}

CommandLine Failure(std::string error) {
  CommandLine result;
  result.action = CommandLine::Action::Fail;
  result.error = std::move(error);
  return result;
}

} // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
  CommandLine result;
  CLI::App app("kv58", "kv58");
  app.set_help_flag("-h,--help");
  app.set_version_flag("--version", std::string()); // the caller prints it
  app.allow_extras(); // reported below, naming the first word that is neither option nor command
  DescribeOptions(app, result.request);
  DescribeCommands(app, result.request);

  std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.action = CommandLine::Action::ShowHelp;
    return result;
  } catch (const CLI::CallForVersion&) {
    result.action = CommandLine::Action::ShowVersion;
    return result;
  } catch (const CLI::ParseError& error) {
    return Failure(ParseErrorText(error));
  }
  std::vector<std::string> extra = app.remaining();
  for (CLI::App* command : app.get_subcommands()) {
    const std::vector<std::string> more = command->remaining();
    extra.insert(extra.end(), more.begin(), more.end());
  }
  if (!extra.empty()) {
    const std::string& word = extra.front();
    return Failure(word.starts_with('-') ? "unknown option \"" + word + "\""
                                         : "unknown command or extra value \"" + word + "\"");
  }
  if (auto error = CheckTheWhole(result.request)) {
    return Failure(std::move(*error));
  }
  return result;
}

PortName WithTlsDefaults(const PortName& port, const TlsSettings& defaults) {
  if (!port.IsNetwork() || !port.Network().tls) {
    return port;
  }
  NetworkPort network = port.Network();
  TlsSettings& own = network.tlsSettings;
  if (own.pinSha256.empty() && own.caFile.empty()) {
    own.pinSha256 = defaults.pinSha256;
    own.caFile = defaults.caFile;
  }
  if (own.expectedName.empty()) {
    own.expectedName = defaults.expectedName;
  }
  if (own.certFile.empty()) {
    own.certFile = defaults.certFile;
    own.keyFile = defaults.keyFile;
  }
  return PortName(std::move(network));
}

std::optional<PortName> CommandLinePort(std::string_view name) {
  return ParsePortName(name, PortNameRule::Strict);
}

} // namespace kv58::cli
