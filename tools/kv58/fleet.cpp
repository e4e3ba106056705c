#include "tools/kv58/fleet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/kv58/command_line.h"

namespace kv58::cli {
namespace {

using namespace std::chrono_literals;

constexpr auto kProgressInterval = 200ms;

enum class State { Waiting, Running, Done, Failed };

struct Slot {
  std::atomic<State> state{State::Waiting};
  std::atomic<std::size_t> secondsLeft{0};
  DisplayResult result;
  std::ostringstream out;
};

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in{std::string(line)};
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

std::string FleetLine(const std::vector<std::unique_ptr<Slot>>& slots) {
  std::size_t done = 0;
  std::size_t failed = 0;
  std::size_t running = 0;
  std::size_t secondsLeft = 0;
  for (const auto& slot : slots) {
    const State state = slot->state.load();
    done += state == State::Done ? 1 : 0;
    failed += state == State::Failed ? 1 : 0;
    running += state == State::Running ? 1 : 0;
    secondsLeft = std::max(secondsLeft, slot->secondsLeft.load());
  }
  return std::to_string(slots.size()) + " displays: " + std::to_string(done) + " done, " +
         std::to_string(failed) + " failed, " + std::to_string(running) + " in progress, " +
         std::to_string(secondsLeft) + " s left";
}

DisplayResult NotStarted(const FleetRun& run) {
  DisplayResult result;
  result.status = 128 + run.stopSignal();
  result.message = std::string(kNotStartedText);
  return result;
}

// The report's line: done, or what went wrong and how far it got.
std::string ReportLine(const Display& display, const DisplayResult& result) {
  const std::string port = display.port.Canonical();
  const std::string who = display.name == port ? port : display.name + " (" + port + ")";
  if (result.status == kExitDone) {
    return who + ": done" + (result.note.empty() ? "" : " (" + result.note + ")");
  }
  if (!result.reached && result.status > 128) {
    return who + ": not started";
  }
  if (!result.reached) {
    return who + ": not reachable: " + result.message;
  }
  return who + (result.status > 128 ? ": interrupted: " : ": failed: ") + result.message;
}

} // namespace

PortsFile ReadPortsFile(const std::string& path) {
  PortsFile file;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    file.error = path + ": cannot be read";
    return file;
  }
  std::size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const auto words = Words(std::string_view(line).substr(0, line.find('#')));
    if (words.empty()) {
      continue;
    }
    const auto port = words.size() <= 2 ? CommandLinePort(words.back()) : std::nullopt;
    if (!port) {
      file.error = path + ", line " + std::to_string(number) +
                   ": expected a port, or a name and a port, such as \"hall-1 rfc2217://10.0.0.5:4001\"";
      return file;
    }
    file.displays.push_back(Display{words.size() == 2 ? words.front() : port->Canonical(), *port});
  }
  if (file.displays.empty()) {
    file.error = path + ": no port in it";
  }
  return file;
}

int RunFleet(const std::vector<Display>& displays, const FleetRun& run, std::ostream& report) {
  std::vector<std::unique_ptr<Slot>> slots;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    slots.push_back(std::make_unique<Slot>());
  }
  std::atomic<std::size_t> next{0};
  const auto worker = [&] {
    for (std::size_t i = next++; i < displays.size(); i = next++) {
      Slot& slot = *slots[i];
      slot.state = State::Running;
      slot.result = run.stopSignal && run.stopSignal() != 0
                        ? NotStarted(run)
                        : run.serve(displays[i], slot.out,
                                    [&slot](std::size_t seconds) { slot.secondsLeft = seconds; });
      slot.secondsLeft = 0;
      slot.state = slot.result.status == kExitDone ? State::Done : State::Failed;
    }
  };
  const std::size_t jobs = std::min(displays.size(), run.jobs == 0 ? displays.size() : run.jobs);
  std::vector<std::thread> threads;
  for (std::size_t j = 0; j < jobs; ++j) {
    threads.emplace_back(worker);
  }
  std::size_t shownWidth = 0;
  const auto allEnded = [&] {
    return std::all_of(slots.begin(), slots.end(), [](const auto& slot) {
      return slot->state == State::Done || slot->state == State::Failed;
    });
  };
  while (run.progress != nullptr && !allEnded()) {
    const std::string line = FleetLine(slots);
    *run.progress << '\r' << line << std::string(shownWidth > line.size() ? shownWidth - line.size() : 0, ' ')
                  << std::flush;
    shownWidth = std::max(shownWidth, line.size());
    std::this_thread::sleep_for(kProgressInterval);
  }
  for (auto& thread : threads) {
    thread.join();
  }
  if (run.progress != nullptr && shownWidth > 0) {
    *run.progress << '\r' << std::string(shownWidth, ' ') << '\r' << std::flush;
  }

  int status = kExitDone;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    const DisplayResult& result = slots[i]->result;
    report << ReportLine(displays[i], result) << '\n';
    if (result.status > 128 || (result.status != kExitDone && status == kExitDone)) {
      status = result.status > 128 ? result.status : kExitDeviceError;
    }
  }
  report << std::flush;
  return status;
}

} // namespace kv58::cli
