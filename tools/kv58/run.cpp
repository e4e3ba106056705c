#include "tools/kv58/run.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "common/stop_request.h"
#include "protocol/receive_monitor.h"
#include "protocol/text_upload.h"
#include "serial/com_socket.h"
#include "tools/common/json_line.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/device_steps.h"
#include "tools/kv58/dry_run_driver.h"
#include "tools/kv58/fleet.h"
#include "tools/kv58/port_listing.h"
#include "tools/kv58/port_session.h"
#include "tools/kv58/ports_file.h"
#include "tools/kv58/same_display.h"
#include "tools/kv58/serve/local_time.h"
#include "tools/kv58/serve/text_template.h"
#include "tools/kv58/step_runner.h"
#include "tools/kv58/text_input.h"
#include "tools/kv58/usage_text.h"

namespace kv58::cli {
namespace {

// A dry run opens nothing, so any name will do when none is given.
constexpr std::int32_t kDryRunPortNumber = 1;

int UsageError(Console& console, const std::string& message, bool pointToHelp = true) {
  console.err << "kv58: " << message << '\n';
  if (pointToHelp) {
    console.err << "Try 'kv58 --help'.\n";
  }
  return kExitUsageError;
}

int ListPorts(const Request& request, Console& console, Machine& machine) {
  const auto source = machine.portSource();
  const std::vector<ListedPort> ports = ListedPorts(*source);
  if (ports.empty()) {
    console.err << "kv58: no serial ports found\n";
  }
  if (request.json) {
    for (const ListedPort& port : ports) {
      console.out << JsonLine().Add("port", port.name).Add("device", port.device).Close() << '\n';
    }
    return kExitDone;
  }
  for (const std::string& line : PortLines(*source)) {
    console.out << line << '\n';
  }
  return kExitDone;
}

Display DisplayOf(const PortName& port) { return Display{port.Canonical(), port, {}, "--port"}; }

// The displays carrying any of the tags asked for with --only; all without it.
std::vector<Display> OnlyTagged(std::vector<Display> displays, const std::vector<std::string>& tags,
                                std::string& error) {
  if (tags.empty()) {
    return displays;
  }
  std::erase_if(displays, [&tags](const Display& display) {
    return std::none_of(display.tags.begin(), display.tags.end(), [&tags](const std::string& tag) {
      return std::find(tags.begin(), tags.end(), tag) != tags.end();
    });
  });
  if (displays.empty()) {
    error = "no display carries the tags given with --only";
  }
  return displays;
}

// --port and --ports-file, else KV58_PORT; none is an error unless nothing is to be opened.
std::vector<Display> ChosenDisplays(const Request& request, Console& console, std::string& error) {
  std::vector<Display> displays;
  if (!request.onlyTags.empty() && !request.portsFile) {
    error = "--only picks displays of a ports file by their tags: give --ports-file";
    return {};
  }
  if (request.portsFile) {
    PortsFile file = ReadPortsFile(*request.portsFile);
    if (file.error) {
      error = *file.error;
      return {};
    }
    displays = OnlyTagged(std::move(file.displays), request.onlyTags, error);
    if (displays.empty()) {
      return {};
    }
  }
  for (const PortName& port : request.ports) {
    displays.push_back(DisplayOf(port));
  }
  for (Display& display : displays) {
    display.port = WithTlsDefaults(display.port, request.tlsDefaults);
  }
  if (const auto twice = SameDisplayTwice(displays, !request.dryRun)) {
    error = *twice;
    return {};
  }
  if (!displays.empty()) {
    return displays;
  }
  if (const auto fromEnvironment = console.environment(kPortVariable)) {
    if (const auto port = CommandLinePort(*fromEnvironment)) {
      return {DisplayOf(WithTlsDefaults(*port, request.tlsDefaults))};
    }
    error = std::string(kPortVariable) + " holds \"" + *fromEnvironment + "\": " + PortNameRuleText();
    return {};
  }
  if (request.dryRun) {
    return {DisplayOf(PortName(kDryRunPortNumber))};
  }
  error = "no port given: use --port COMn or set " + std::string(kPortVariable) + " (kv58 ports lists them)";
  return {};
}

// A text of send --template with its date and time filled in from the local clock now.
bool FillInTemplate(const Step& step, std::string& text, std::string& error) {
  const std::string name = step.file == "-" ? "standard input" : step.file;
  const auto now = serve::LocalTime(std::time(nullptr));
  if (!now) {
    error = name + ": the local time is not known, so its date and time cannot be filled in";
    return false;
  }
  serve::ExpandedText expanded = serve::ExpandTemplate(text, *now);
  if (!expanded.text) {
    error = name + ": " + expanded.error;
    return false;
  }
  text = std::move(*expanded.text);
  return true;
}

// The steps with the texts of the send steps, all read before the port is opened.
bool MakePlan(const Request& request, Console& console, Plan& plan, std::string& error) {
  plan.clear();
  for (const Step& step : request.steps) {
    PlannedStep planned{step, {}};
    if (step.kind == Step::Kind::Send) {
      TextInput text = ReadText(step.file, console.in);
      if (!text.loaded) {
        error = std::move(text.error);
        return false;
      }
      if (step.templated && !FillInTemplate(step, text.bytes, error)) {
        return false;
      }
      planned.text = std::move(text.bytes);
    }
    plan.push_back(std::move(planned));
  }
  return true;
}

// The port picked for this run, real or dry, with what goes with it.
struct Line {
  TCOMSocket& port;
  Pause pause;
  bool dryRun = false;
  std::function<void()> endPrintedLine; // before a note of kv58's own among the printed bytes
};

// Closes the display's port on the way out, once what was written has left.
struct PortCloser {
  explicit PortCloser(TCOMSocket& open) : port(open) {}
  ~PortCloser() { (void)CloseDevicePort(port); }
  PortCloser(const PortCloser&) = delete;
  PortCloser& operator=(const PortCloser&) = delete;
  TCOMSocket& port;
};

// The outcome of an attempt whose step failed: partial while the display holds part of a text.
Outcome FailedOutcome(const std::optional<TextAccount>& text) {
  const bool partText = text && (text->open || text->pagesShown < text->pageCount);
  return partText ? Outcome::Partial : Outcome::Failed;
}

// Ends the text that an earlier attempt left open, before anything else reaches the display,
// and notes what the display showed meanwhile; false when its end (00) did not go out.
bool EndTextLeftOpen(Line& line, DisplayState& state) {
  if (!EndOpenText(line.port, line.pause, state.lastPageAt)) {
    return false;
  }
  TextAccount shown = *state.openText;
  shown.open = false;
  shown.pagesShown = shown.pagesWritten;
  state.earlier = "an earlier attempt left the display inside a text, ended by this one: it showed " +
                  HeldText(shown) + " until the text was sent again";
  state.openText.reset();
  return true;
}

// Opens the display's port and sends the plan, first ending a text that an earlier attempt
// left open. What goes wrong is said on `console.err` as it happens and told in the result.
DisplayResult SendSteps(const Request& request, const PortName& port, const Plan& plan, Console& console,
                        Line& line, std::chrono::milliseconds tick,
                        const std::function<void(std::size_t seconds)>& secondsLeft, DisplayState& state) {
  const std::string portName = port.Canonical();
  const auto say = [&](const std::string& text) {
    console.err << "kv58: " << portName << ": " << text << '\n';
  };
  DisplayResult result;
  const auto ended = [&](Outcome outcome, FailureKind kind, std::string message) {
    result.outcome = outcome;
    result.kind = kind;
    result.message = std::move(message);
    say(result.message);
    if (result.text && result.text->open) {
      state.openText = result.text;
      state.lastPageAt = std::chrono::steady_clock::now();
    }
    return result;
  };
  console.watchInterrupts(plan.back().step.kind == Step::Kind::Monitor);
  if (StopRequested()) {
    return ended(Outcome::NotStarted, FailureKind::None, std::string(kNotStartedText));
  }
  PortOpening opening = OpenPortForDevice(line.port, port, request.baudRate);
  if (opening.step != OpenStep::Ready) {
    if (StopRequested()) {
      return ended(Outcome::NotStarted, FailureKind::None,
                   "interrupted while the port was being opened: nothing was sent");
    }
    return ended(Outcome::NotReachable, opening.kind, std::move(opening.error));
  }
  const PortCloser closer{line.port};
  result.note = line.port.LineSettingsNote();
  if (!result.note.empty()) {
    say(result.note);
  }
  if (state.openText && !EndTextLeftOpen(line, state)) {
    result.text = state.openText;
    const bool stopped = StopRequested();
    return ended(stopped ? Outcome::Interrupted : Outcome::Partial,
                 stopped ? FailureKind::None : WriteFailureKind(line.port),
                 "an earlier attempt left the display inside a text, and its end (00) was not sent: " +
                     WriteFailureReason(line.port) + "; the display holds " + HeldText(*state.openText));
  }
  MonitorOptions monitor;
  monitor.tick = tick;
  monitor.stopRequested = [] { return StopRequested(); };
  monitor.inputOverflowed = [&say, said = false]() mutable {
    if (!std::exchange(said, true)) {
      say(std::string(kInputOverflowText));
    }
  };
  StepRunner runner(
      StepContext{line.port, line.pause, portName, console.out, console.err, request.quiet || line.dryRun,
                  console.errIsTerminal && !request.quiet && !line.dryRun, monitor, secondsLeft});
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Step& step = plan[i].step;
    if (StopRequested()) {
      return ended(Outcome::Interrupted, FailureKind::None,
                   i == 0 ? "interrupted before the first command: nothing was sent"
                          : "interrupted after " + DescribeStep(plan[i - 1].step) +
                                "; the commands after it were not sent");
    }
    if (step.kind == Step::Kind::Monitor && line.dryRun) {
      line.endPrintedLine();
      console.out << "monitor: nothing is read in a dry run\n";
      continue;
    }
    StepResult sent = runner.Run(plan[i]);
    if (sent.text) {
      result.text = sent.text;
    }
    switch (sent.end) {
    case StepEnd::Done:
      break;
    case StepEnd::Failed:
      return ended(FailedOutcome(result.text), sent.kind, std::move(sent.message));
    case StepEnd::Interrupted:
      return ended(Outcome::Interrupted, FailureKind::None, std::move(sent.message));
    }
  }
  return result;
}

// --jobs, or as many displays as the open files leave room for: an explicit --jobs beyond
// that room would fail the displays past it, so it is held within it, and said once.
std::size_t JobsWithinRoom(const Request& request, Console& console, const Machine& machine) {
  const std::size_t room = machine.displaysAtOnce;
  if (request.jobs == 0) {
    return room;
  }
  if (room != 0 && request.jobs > room) {
    console.err << "kv58: --jobs " << request.jobs << " is more than the open files leave room for: " << room
                << " displays at once\n";
    return room;
  }
  return request.jobs;
}

// Every display at once, each with a driver of its own when the machine can make them (one
// after another on the one driver otherwise), and a line per display at the end.
int ServeFleet(const Request& request, const std::vector<Display>& displays, const Plan& plan,
               Console& console, Machine& machine) {
  if (plan.back().step.kind == Step::Kind::Monitor) {
    return UsageError(console,
                      request.json || request.retries > 0
                          ? "monitor prints what arrives until stopped: --json and --retries are for "
                            "reports of commands sent"
                          : "monitor watches one display: give one port");
  }
  console.watchInterrupts(false);
  FleetRun run;
  run.jobs = machine.newDriver ? JobsWithinRoom(request, console, machine) : 1;
  run.retries = request.retries;
  run.json = request.json;
  run.progress = console.errIsTerminal && !request.quiet ? &console.err : nullptr;
  run.serve = [&](const Display& display, std::ostream& out,
                  const std::function<void(std::size_t)>& secondsLeft, DisplayState& state) {
    return SendToDisplay(request, display, plan, machine, out, secondsLeft, state);
  };
  return RunFleet(displays, run, console.out);
}

// A report that could not be written stops no command; it only says so at the end.
int NoteLostReport(Console& console, int status) {
  if (!console.out && status == kExitDone) {
    console.err << "kv58: the report could not be written (standard output is closed); every command "
                   "was sent\n";
  }
  return status;
}

} // namespace

DisplayResult SendToDisplay(const Request& request, const Display& display, const Plan& plan,
                            Machine& machine, std::ostream& out,
                            const std::function<void(std::size_t seconds)>& secondsLeft,
                            DisplayState& state) {
  std::unique_ptr<SerialDriver> own = machine.newDriver ? machine.newDriver() : nullptr;
  TCOMSocket port(own ? *own : machine.driver);
  Line line{port, machine.pause, false, [] {}};
  std::ostream unsaid(nullptr); // the report tells each display's end
  std::istringstream noInput;
  Console quiet{out, unsaid, noInput, false, [](const char*) { return std::nullopt; }, [](bool) {}};
  Request one = request;
  one.quiet = true;
  return SendSteps(one, display.port, plan, quiet, line, machine.monitorTick, secondsLeft, state);
}

int RunKv58(std::span<const std::string_view> args, Console& console, Machine& machine) {
  const CommandLine line = ParseCommandLine(args);
  switch (line.action) {
  case CommandLine::Action::ShowHelp:
    console.out << UsageText() << std::flush;
    return kExitDone;
  case CommandLine::Action::ShowVersion:
    console.out << VersionText() << '\n' << std::flush;
    return kExitDone;
  case CommandLine::Action::Fail:
    return UsageError(console, line.error);
  case CommandLine::Action::Run:
    break;
  }
  const Request& request = line.request;
  if (request.listPorts) {
    return ListPorts(request, console, machine);
  }

  std::string error;
  const std::vector<Display> displays = ChosenDisplays(request, console, error);
  if (displays.empty()) {
    return UsageError(console, error);
  }
  Plan plan;
  if (!MakePlan(request, console, plan, error)) {
    return UsageError(console, error, false);
  }
  if (request.dryRun) {
    console.err << "kv58: " << displays.front().port.Canonical() << ": dry run: nothing is opened\n";
    DryRunDriver dryRun(console.out);
    TCOMSocket port(dryRun);
    Line dry{port, dryRun.PrintingPause(), true, [&dryRun] { dryRun.EndLine(); }};
    DisplayState state;
    const DisplayResult result =
        SendSteps(request, displays.front().port, plan, console, dry, machine.monitorTick, nullptr, state);
    dryRun.EndLine();
    if (displays.size() > 1) {
      console.out << "the same goes to each of the " << displays.size() << " displays\n";
    }
    return ExitStatusOfRun(result.outcome);
  }
  if (displays.size() == 1 && !request.json && request.retries == 0) {
    TCOMSocket port(machine.driver);
    Line real{port, machine.pause, false, [] {}};
    DisplayState state;
    const DisplayResult result =
        SendSteps(request, displays.front().port, plan, console, real, machine.monitorTick, nullptr, state);
    return NoteLostReport(console, ExitStatusOfRun(result.outcome));
  }
  return ServeFleet(request, displays, plan, console, machine);
}

} // namespace kv58::cli
