#include "tools/kv58/serve/serve_run.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <variant>

#include "common/stop_request.h"
#include "tools/common/json_line.h"
#include "tools/common/json_read.h"
#include "tools/kv58/fleet.h"
#include "tools/kv58/fleet_report.h"
#include "tools/kv58/ports_file.h"
#include "tools/kv58/same_display.h"
#include "tools/kv58/serve/dispatcher.h"
#include "tools/kv58/serve/event_feed.h"
#include "tools/kv58/serve/http_api.h"
#include "tools/kv58/serve/local_time.h"
#include "tools/kv58/serve/schedule.h"
#include "tools/kv58/serve/serve_options.h"
#include "tools/kv58/serve/service/api_token.h"
#include "tools/kv58/serve/text_template.h"
#include "tools/kv58/text_input.h"

namespace kv58::serve {
namespace {

using SystemClock = std::chrono::system_clock;
using namespace std::chrono_literals;

constexpr auto kFirstRecoveryWait = 1min;
constexpr auto kLongestRecoveryWait = 16min;

// The displays and the schedule in use: replaced whole by a reload that accepts both files.
struct Files {
  std::vector<cli::Display> displays;
  Schedule schedule;
};

bool Targets(const Target& target, const cli::Display& display) {
  switch (target.kind) {
  case TargetKind::All:
    return true;
  case TargetKind::Tag:
    return std::find(display.tags.begin(), display.tags.end(), target.name) != display.tags.end();
  case TargetKind::Name:
    return display.name == target.name;
  }
  return false;
}

std::vector<std::string> NamesFor(const Target& target, const std::vector<cli::Display>& displays) {
  std::vector<std::string> names;
  for (const cli::Display& display : displays) {
    if (Targets(target, display)) {
      names.push_back(display.name);
    }
  }
  return names;
}

// Both files read and checked against each other; the first fault otherwise.
std::variant<Files, std::string> LoadFiles(const ServeOptions& options) {
  cli::PortsFile ports = cli::ReadPortsFile(*options.shared.portsFile);
  if (ports.error) {
    return *ports.error;
  }
  if (ports.displays.empty()) {
    return *options.shared.portsFile + " names no display";
  }
  for (cli::Display& display : ports.displays) {
    display.port = cli::WithTlsDefaults(display.port, options.shared.tlsDefaults);
  }
  std::set<std::string> names;
  for (const cli::Display& display : ports.displays) {
    if (!names.insert(display.name).second) {
      return display.source + ": the name " + cli::PrintableName(display.name) + " is given twice";
    }
  }
  if (const auto twice = cli::SameDisplayTwice(ports.displays, true)) {
    return *twice;
  }
  Files files{std::move(ports.displays), {}};
  if (!options.schedule) {
    return files;
  }
  ScheduleLoad schedule = ReadSchedule(*options.schedule);
  if (!schedule.schedule) {
    return schedule.error;
  }
  for (const ScheduleEntry& entry : schedule.schedule->entries) {
    if (entry.target.kind != TargetKind::All && NamesFor(entry.target, files.displays).empty()) {
      return entry.source + ": " +
             (entry.target.kind == TargetKind::Tag ? "no display carries the tag " : "no display is named ") +
             cli::PrintableName(entry.target.name) + " in " + *options.shared.portsFile;
    }
  }
  files.schedule = std::move(*schedule.schedule);
  return files;
}

// The entry's steps with their texts, read now: a text another program keeps up to date is
// sent as it is when the entry comes due.
std::variant<Order, std::string> OrderOf(const ScheduleEntry& entry, const std::string& source) {
  Order order{{}, source};
  std::istringstream noInput;
  for (const cli::Step& step : entry.steps) {
    cli::PlannedStep planned{step, {}};
    if (step.kind == cli::Step::Kind::Send) {
      cli::TextInput text = cli::ReadText(step.file, noInput);
      if (!text.loaded) {
        return entry.source + ": " + text.error;
      }
      planned.text = std::move(text.bytes);
    }
    order.plan.push_back(std::move(planned));
  }
  return order;
}

std::tm LocalNow() { return LocalTime(SystemClock::to_time_t(SystemClock::now())).value_or(std::tm{}); }

// The plan with its templated texts filled in for `at`; why not when a text would not fit.
std::variant<cli::Plan, std::string> FilledIn(cli::Plan plan, const std::tm& local) {
  for (cli::PlannedStep& planned : plan) {
    if (!planned.step.templated) {
      continue;
    }
    ExpandedText expanded = ExpandTemplate(planned.text, local);
    if (!expanded.text) {
      return "text from " + planned.step.file + ": " + expanded.error;
    }
    planned.text = std::move(*expanded.text);
  }
  return plan;
}

cli::DisplayResult Refused(std::string why) {
  cli::DisplayResult result;
  result.outcome = cli::Outcome::Failed;
  result.kind = cli::FailureKind::Other;
  result.message = std::move(why);
  result.attempts = 0;
  return result;
}

// "1 display", "3 schedule entries".
std::string Counted(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

class Service {
public:
  Service(ServeOptions options, cli::Console& console, cli::Machine& machine, ServeControl& control,
          Files files, std::string token)
      : options_(std::move(options)), console_(console), machine_(machine), control_(control),
        files_(std::move(files)),
        dispatcher_([this](const cli::Display& display, const cli::Plan& plan,
                           cli::DisplayState& state) { return Send(display, plan, state); },
                    DisplaysAtOnce(), [this](const Finished& finished) { Log(finished); }),
        api_(ApiSetup{dispatcher_,
                      events_,
                      std::move(token),
                      [this] {
                        const std::lock_guard lock(filesMutex_);
                        return files_.displays;
                      },
                      [this] { return Reload(); },
                      [](std::string_view text) -> std::optional<std::string> {
                        ExpandedText expanded = ExpandTemplate(text, LocalNow());
                        return expanded.text ? std::nullopt : std::optional<std::string>(expanded.error);
                      },
                      {}}) {
    dispatcher_.SetDisplays(files_.displays);
  }

  int Run();

private:
  std::size_t DisplaysAtOnce() const;
  cli::DisplayResult Send(const cli::Display& display, const cli::Plan& plan, cli::DisplayState& state);
  void Log(const Finished& finished);
  std::optional<std::string> Reload();
  void Submit(const std::vector<std::string>& names, const ScheduleEntry& entry, const std::string& source);
  void CatchUp(const std::vector<std::string>& only, const std::string& why);
  void RunDue(SystemClock::time_point from, SystemClock::time_point to);
  // The displays back after failing, and the failing ones due to be tried again.
  std::pair<std::vector<std::string>, std::vector<std::string>> DueRecoveries(SystemClock::time_point now);
  std::optional<SystemClock::time_point> NextWake(SystemClock::time_point after);
  void Say(const std::string& text) { console_.err << "kv58 serve: " << text << '\n' << std::flush; }

  ServeOptions options_;
  cli::Console& console_;
  cli::Machine& machine_;
  ServeControl& control_;
  std::mutex filesMutex_;
  Files files_;
  // Displays whose last job could not reach them, and when the schedule's text is tried again;
  // displays that came back, for the schedule's text.
  std::mutex recoveryMutex_;
  std::map<std::string, std::pair<SystemClock::time_point, int>> failing_;
  std::vector<std::string> cameBack_;
  // Last, so they end first: their threads use everything above.
  EventFeed events_;
  Dispatcher dispatcher_;
  HttpApi api_;
};

std::size_t Service::DisplaysAtOnce() const {
  if (options_.shared.jobs != 0) {
    return machine_.displaysAtOnce == 0 ? options_.shared.jobs
                                        : std::min(options_.shared.jobs, machine_.displaysAtOnce);
  }
  return machine_.displaysAtOnce == 0 ? 64 : machine_.displaysAtOnce;
}

cli::DisplayResult Service::Send(const cli::Display& display, const cli::Plan& plan,
                                 cli::DisplayState& state) {
  auto filled = FilledIn(plan, LocalNow());
  if (auto* why = std::get_if<std::string>(&filled)) {
    return Refused(std::move(*why));
  }
  cli::FleetRun run;
  run.retries = options_.shared.retries;
  run.serve = [&](const cli::Display& one, std::ostream& out,
                  const std::function<void(std::size_t)>& secondsLeft, cli::DisplayState& carried) {
    return cli::SendToDisplay(options_.shared, one, std::get<cli::Plan>(filled), machine_, out, secondsLeft,
                              carried);
  };
  std::ostringstream unsaid;
  return cli::ServeWithRetries(
      display, run, unsaid, [](std::size_t) {}, state);
}

void Service::Log(const Finished& finished) {
  nlohmann::ordered_json line = ParseJson(cli::JsonReportLine(finished.display, finished.result))
                                    .value_or(nlohmann::ordered_json::object());
  line["job"] = finished.job;
  line["source"] = JsonText(finished.source, HighBytes::AsText);
  const std::string text = line.dump();
  console_.out << text << '\n' << std::flush;
  events_.Publish(text);
  const std::lock_guard lock(recoveryMutex_);
  const std::string& name = finished.display.name;
  if (cli::WorthRetrying(finished.result)) { // the display could not be reached
    auto& [due, failures] = failing_[name];
    const auto wait = std::min<SystemClock::duration>(kFirstRecoveryWait * (1 << std::min(failures, 4)),
                                                      kLongestRecoveryWait);
    due = finished.at + wait;
    ++failures;
    control_.Wake();
  } else if (finished.result.outcome == cli::Outcome::Done && failing_.erase(name) > 0 &&
             !finished.result.text) {
    cameBack_.push_back(name); // the display is back, and shows no newer text than the schedule's
    control_.Wake();
  }
}

std::optional<std::string> Service::Reload() {
  auto loaded = LoadFiles(options_);
  if (auto* why = std::get_if<std::string>(&loaded)) {
    Say("the files were read again and refused, so the ones in use stay: " + *why);
    return *why;
  }
  {
    const std::lock_guard lock(filesMutex_);
    files_ = std::get<Files>(std::move(loaded));
    dispatcher_.SetDisplays(files_.displays);
    Say("the files were read again: " + Counted(files_.displays.size(), "display", "displays") + ", " +
        Counted(files_.schedule.entries.size(), "schedule entry", "schedule entries"));
  }
  CatchUp({}, "after a reload");
  control_.Wake();
  return std::nullopt;
}

void Service::Submit(const std::vector<std::string>& names, const ScheduleEntry& entry,
                     const std::string& source) {
  if (names.empty()) {
    return;
  }
  auto order = OrderOf(entry, source);
  if (auto* why = std::get_if<std::string>(&order)) {
    Say(*why + ": nothing was sent");
    return;
  }
  if (!dispatcher_.Submit(names, std::get<Order>(std::move(order)))) {
    Say(entry.source + ": a display has too many jobs waiting: nothing was sent");
  }
}

// Each display (of `only`, or all) gets the latest entry already due today: what it should show now.
void Service::CatchUp(const std::vector<std::string>& only, const std::string& why) {
  const auto now = SystemClock::now();
  std::map<const ScheduleEntry*, std::vector<std::string>> byEntry;
  {
    const std::lock_guard lock(filesMutex_);
    for (const cli::Display& display : files_.displays) {
      if (!only.empty() && std::find(only.begin(), only.end(), display.name) == only.end()) {
        continue;
      }
      const auto due = serve::CatchUp(
          files_.schedule, [&display](const Target& target) { return Targets(target, display); }, now);
      if (due) {
        byEntry[due->entry].push_back(display.name);
      }
    }
    for (const auto& [entry, names] : byEntry) {
      Submit(names, *entry, entry->source + " (" + why + ")");
    }
  }
}

void Service::RunDue(SystemClock::time_point from, SystemClock::time_point to) {
  const std::lock_guard lock(filesMutex_);
  for (const DueEntry& due : DueBetween(files_.schedule, from, to)) {
    Submit(NamesFor(due.entry->target, files_.displays), *due.entry, due.entry->source);
  }
}

std::pair<std::vector<std::string>, std::vector<std::string>>
Service::DueRecoveries(SystemClock::time_point now) {
  const std::lock_guard lock(recoveryMutex_);
  std::vector<std::string> retried;
  for (auto& [name, recovery] : failing_) {
    if (recovery.first <= now) {
      retried.push_back(name);
      recovery.first = SystemClock::time_point::max(); // until this try has ended
    }
  }
  return {std::exchange(cameBack_, {}), retried};
}

std::optional<SystemClock::time_point> Service::NextWake(SystemClock::time_point after) {
  std::optional<SystemClock::time_point> wake;
  {
    const std::lock_guard lock(filesMutex_);
    wake = serve::NextWake(files_.schedule, after);
  }
  const std::lock_guard lock(recoveryMutex_);
  for (const auto& [name, recovery] : failing_) {
    if (recovery.first != SystemClock::time_point::max() && (!wake || recovery.first < *wake)) {
      wake = recovery.first;
    }
  }
  return wake;
}

int Service::Run() {
  if (const auto refused = api_.Bind(options_.listenHost, options_.listenPort)) {
    Say(*refused);
    return cli::kExitDeviceError;
  }
  api_.Start();
  Say("serving " + Counted(files_.displays.size(), "display", "displays") + " of " +
      *options_.shared.portsFile +
      (options_.schedule
           ? ", " + Counted(files_.schedule.entries.size(), "schedule entry", "schedule entries") + " of " +
                 *options_.schedule
           : std::string()) +
      "; the API is at http://" + options_.listenHost + ":" + std::to_string(api_.BoundPort()) + "/v1/");
  CatchUp({}, "at start");
  auto last = SystemClock::now();
  for (;;) {
    const auto wake = NextWake(last);
    const ServeControl::Event event = wake ? control_.WaitUntil(*wake) : control_.Wait();
    if (event == ServeControl::Event::Stop) {
      break;
    }
    if (event == ServeControl::Event::Reload) {
      (void)Reload();
    }
    const auto now = SystemClock::now();
    RunDue(last, now);
    last = now;
    const auto [cameBack, retried] = DueRecoveries(now);
    if (!cameBack.empty()) {
      CatchUp(cameBack, "the display is back");
    }
    if (!retried.empty()) {
      CatchUp(retried, "tried again, as the display could not be reached");
    }
  }
  RequestStop(StopLevel::Finish);
  Say("stopping once what is being sent has ended (a text with its end)");
  dispatcher_.Stop();
  events_.Close();
  api_.Stop();
  Say("stopped");
  return cli::kExitDone;
}

} // namespace

int RunServe(std::span<const std::string_view> args, cli::Console& console, cli::Machine& machine,
             ServeControl& control) {
  const ServeCommandLine line = ParseServeCommandLine(args);
  if (line.showHelp) {
    console.out << ServeUsageText() << std::flush;
    return cli::kExitDone;
  }
  if (!line.options) {
    console.err << "kv58 serve: " << line.error << "\nTry 'kv58 serve --help'.\n";
    return cli::kExitUsageError;
  }
  const ServeOptions& options = *line.options;
  if (!IsLoopback(options.listenHost)) {
    if (!options.tokenFile) {
      console.err << "kv58 serve: --listen " << options.listenHost
                  << " is reachable from other machines: give --token-file, so that the token is one you "
                     "chose and keep\n";
      return cli::kExitUsageError;
    }
    console.err << "kv58 serve: warning: the API listens on " << options.listenHost
                << ", reachable from other machines; its requests and the token cross the network in clear\n";
  }
  auto files = LoadFiles(options);
  if (auto* why = std::get_if<std::string>(&files)) {
    console.err << "kv58 serve: " << *why << '\n';
    return cli::kExitUsageError;
  }
  const TokenLoad token = LoadOrCreateToken(options.tokenFile, console.environment);
  if (!token.token) {
    console.err << "kv58 serve: " << token.error << '\n';
    return cli::kExitUsageError;
  }
  if (!token.warning.empty()) {
    console.err << "kv58 serve: warning: " << token.warning << '\n';
  }
  console.err << "kv58 serve: the API's token is " << (token.created ? "made now, " : "") << "in "
              << token.path << '\n';
  Service service(options, console, machine, control, std::get<Files>(std::move(files)), *token.token);
  return service.Run();
}

} // namespace kv58::serve
