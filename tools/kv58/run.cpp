#include "tools/kv58/run.h"

#include <memory>
#include <sstream>
#include <vector>

#include "serial/com_socket.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/device_steps.h"
#include "tools/kv58/dry_run_driver.h"
#include "tools/kv58/fleet.h"
#include "tools/kv58/port_listing.h"
#include "tools/kv58/port_session.h"
#include "tools/kv58/step_runner.h"
#include "tools/kv58/text_input.h"
#include "tools/kv58/usage_text.h"

namespace kv58::cli {
namespace {

// A dry run opens nothing, so any name will do when none is given.
constexpr std::string_view kDryRunPort = "COM1";

int UsageError(Console& console, const std::string& message, bool pointToHelp = true) {
  console.err << "kv58: " << message << '\n';
  if (pointToHelp) {
    console.err << "Try 'kv58 --help'.\n";
  }
  return kExitUsageError;
}

int ListPorts(Console& console, Machine& machine) {
  const auto source = machine.portSource();
  const std::vector<std::string> lines = PortLines(*source);
  if (lines.empty()) {
    console.err << "kv58: no serial ports found\n";
  }
  for (const std::string& line : lines) {
    console.out << line << '\n';
  }
  return kExitDone;
}

// --port and --ports-file, else KV58_PORT; none is an error unless nothing is to be opened.
std::vector<Display> ChosenDisplays(const Request& request, Console& console, std::string& error) {
  std::vector<Display> displays;
  if (request.portsFile) {
    PortsFile file = ReadPortsFile(*request.portsFile);
    if (file.error) {
      error = *file.error;
      return {};
    }
    displays = std::move(file.displays);
  }
  for (const std::string& port : request.ports) {
    displays.push_back(Display{port, port});
  }
  if (!displays.empty()) {
    return displays;
  }
  if (const auto fromEnvironment = console.environment(kPortVariable)) {
    if (const auto name = PortName(*fromEnvironment)) {
      return {Display{*name, *name}};
    }
    error = std::string(kPortVariable) + " holds \"" + *fromEnvironment + "\", not a port name such as COM5";
    return {};
  }
  if (request.dryRun) {
    return {Display{std::string(kDryRunPort), std::string(kDryRunPort)}};
  }
  error = "no port given: use --port COMn or set " + std::string(kPortVariable) + " (kv58 ports lists them)";
  return {};
}

// The texts of the send steps, all read before the port is opened.
bool ReadTexts(const Request& request, Console& console, std::vector<std::string>& texts,
               std::string& error) {
  texts = std::vector<std::string>(request.steps.size());
  for (std::size_t i = 0; i < request.steps.size(); ++i) {
    if (request.steps[i].kind != Step::Kind::Send) {
      continue;
    }
    TextInput text = ReadText(request.steps[i].file, console.in);
    if (!text.loaded) {
      error = std::move(text.error);
      return false;
    }
    texts[i] = std::move(text.bytes);
  }
  return true;
}

// The signal that asked kv58 to stop sending, 0 while none.
int StopSignal(const Console& console) { return console.stopSignal ? console.stopSignal() : 0; }

// An interrupted run ends as the shell reports a process ended by the signal: 128 + its number.
int InterruptedStatus(const Console& console) { return 128 + StopSignal(console); }

// The port picked for this run, real or dry, with what goes with it.
struct Line {
  TCOMSocket& port;
  Pause pause;
  bool dryRun = false;
  std::function<void()> endPrintedLine; // before a note of kv58's own among the printed bytes
};

// What a fleet's display adds to the run of its steps: whether its port opened, and its upload's
// seconds left.
struct FleetHooks {
  bool opened = false;
  std::function<void(std::size_t seconds)> secondsLeft;
};

int SendSteps(const Request& request, const std::string& portName, const std::vector<std::string>& texts,
              Console& console, Line& line, std::chrono::milliseconds tick, FleetHooks& hooks) {
  console.watchInterrupts();
  if (const auto error = OpenPortForDevice(line.port, portName, request.baudRate)) {
    console.err << "kv58: " << portName << ": " << *error << '\n';
    return kExitDeviceError;
  }
  hooks.opened = true;
  if (const std::string note = line.port.LineSettingsNote(); !note.empty()) {
    console.err << "kv58: " << portName << ": " << note << '\n';
  }
  MonitorOptions monitor;
  monitor.tick = tick;
  monitor.stopRequested = [&console] { return console.interrupted(); };
  StepRunner runner(StepContext{line.port, line.pause, portName, console.out, console.err,
                                request.quiet || line.dryRun,
                                console.errIsTerminal && !request.quiet && !line.dryRun, monitor,
                                [&console] { return StopSignal(console) != 0; }, hooks.secondsLeft});
  for (std::size_t i = 0; i < request.steps.size(); ++i) {
    const Step& step = request.steps[i];
    if (step.kind == Step::Kind::Monitor && line.dryRun) {
      line.endPrintedLine();
      console.out << "monitor: nothing is read in a dry run\n";
      continue;
    }
    switch (runner.Run(step, texts[i], console.err)) {
    case StepEnd::Done:
      break;
    case StepEnd::Failed:
      return kExitDeviceError;
    case StepEnd::Interrupted:
      return InterruptedStatus(console);
    }
    if (i + 1 < request.steps.size() && StopSignal(console) != 0) {
      console.err << "kv58: " << portName << ": interrupted after " << DescribeStep(step)
                  << "; the commands after it were not sent\n";
      return InterruptedStatus(console);
    }
  }
  return kExitDone;
}

// The last thing kv58 said of one display, without its own prefix "kv58: PORT: ": the failure
// when there was one, else a note such as a tcp:// port's line settings.
std::string LastSaid(const std::string& err, const std::string& port) {
  std::string text = err;
  while (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  if (const std::size_t lineEnd = text.find_last_of('\n'); lineEnd != std::string::npos) {
    text.erase(0, lineEnd + 1);
  }
  const std::string prefix = "kv58: " + port + ": ";
  return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// Every display at once, each with a driver of its own when the machine can make them (one
// after another on the one driver otherwise), and a line per display at the end.
int ServeFleet(const Request& request, const std::vector<Display>& displays,
               const std::vector<std::string>& texts, Console& console, Machine& machine) {
  if (request.steps.back().kind == Step::Kind::Monitor) {
    return UsageError(console, "monitor watches one display: give one port");
  }
  console.watchInterrupts();
  FleetRun run;
  run.jobs = machine.newDriver ? request.jobs : 1;
  run.progress = console.errIsTerminal && !request.quiet ? &console.err : nullptr;
  run.serve = [&](const Display& display, std::ostream& out,
                  const std::function<void(std::size_t)>& secondsLeft) {
    std::unique_ptr<SerialDriver> own = machine.newDriver ? machine.newDriver() : nullptr;
    TCOMSocket port(own ? *own : machine.driver);
    Line line{port, machine.pause, false, [] {}};
    std::ostringstream err;
    std::istringstream noInput;
    Console quiet{
        out, err, noInput, false, console.environment, [] {}, console.interrupted, console.stopSignal};
    Request one = request;
    one.quiet = true;
    FleetHooks hooks{false, secondsLeft};
    const int status = SendSteps(one, display.port, texts, quiet, line, machine.monitorTick, hooks);
    return DisplayResult{status, hooks.opened, LastSaid(err.str(), display.port)};
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
    return ListPorts(console, machine);
  }

  std::string error;
  const std::vector<Display> displays = ChosenDisplays(request, console, error);
  if (displays.empty()) {
    return UsageError(console, error);
  }
  std::vector<std::string> texts;
  if (!ReadTexts(request, console, texts, error)) {
    return UsageError(console, error, false);
  }
  FleetHooks hooks;
  if (request.dryRun) {
    DryRunDriver dryRun(console.out);
    TCOMSocket port(dryRun);
    Line dry{port, dryRun.PrintingPause(), true, [&dryRun] { dryRun.EndLine(); }};
    const int status =
        SendSteps(request, displays.front().port, texts, console, dry, machine.monitorTick, hooks);
    dryRun.EndLine();
    if (displays.size() > 1) {
      console.out << "the same goes to each of the " << displays.size() << " displays\n";
    }
    return status;
  }
  if (displays.size() == 1) {
    TCOMSocket port(machine.driver);
    Line real{port, machine.pause, false, [] {}};
    return NoteLostReport(
        console, SendSteps(request, displays.front().port, texts, console, real, machine.monitorTick, hooks));
  }
  return ServeFleet(request, displays, texts, console, machine);
}

} // namespace kv58::cli
