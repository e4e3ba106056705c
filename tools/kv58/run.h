#pragma once
// kv58 from its arguments to its exit status. Everything it takes from the process and the
// machine comes in here, so tests run it whole with streams, ports and an environment of
// their own.

#include <chrono>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "protocol/pause.h"
#include "serial/port_source.h"
#include "serial/serial_driver.h"
#include "tools/kv58/command_line.h"
#include "tools/kv58/display.h"
#include "tools/kv58/display_result.h"
#include "tools/kv58/step_runner.h"

namespace kv58::cli {

struct Console {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool errIsTerminal = false;
  std::function<std::optional<std::string>(const char* name)> environment;
  // Called before the first device command: from then on a Ctrl+C or SIGTERM is a request to
  // stop (common/stop_request.h), the one way a stop reaches kv58's steps and waits.
  // `monitorOnly` when the run only watches the line, which a stop ends at once.
  std::function<void(bool monitorOnly)> watchInterrupts;
};

struct Machine {
  SerialDriver& driver;
  std::function<std::unique_ptr<PortSource>()> portSource;
  Pause pause;
  std::chrono::milliseconds monitorTick{100};
  // A driver of its own for each display of a fleet, so they are served at once; without
  // it a fleet's displays are served one after another on `driver`.
  std::function<std::unique_ptr<SerialDriver>()> newDriver = nullptr;
  // Displays a fleet serves at once when --jobs does not say: as many as the open-file limit
  // leaves room for.
  std::size_t displaysAtOnce = 0;
};

inline constexpr const char* kPortVariable = "KV58_PORT";

// The exit status: kExitDone, kExitDeviceError or kExitUsageError.
[[nodiscard]] int RunKv58(std::span<const std::string_view> args, Console& console, Machine& machine);

// One attempt at one display, as a fleet makes it: its port opened on a driver of its own
// when the machine makes them, an open text left in `state` ended first, the plan sent, the
// port closed. Nothing is said on the way: the result tells it all.
[[nodiscard]] DisplayResult SendToDisplay(const Request& request, const Display& display, const Plan& plan,
                                          Machine& machine, std::ostream& out,
                                          const std::function<void(std::size_t seconds)>& secondsLeft,
                                          DisplayState& state);

} // namespace kv58::cli
