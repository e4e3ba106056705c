#pragma once
// `kv58 serve`: the displays of a ports file, served on a schedule and through a local HTTP
// API until stopped. Everything it takes from the process comes in here, as for kv58's other
// commands, so tests and the Windows service run it whole.

#include <span>
#include <string_view>

#include "tools/kv58/run.h"
#include "tools/kv58/serve/serve_control.h"

namespace kv58::serve {

// The arguments after "serve". Returns the exit status: 0 after a stop, 2 for options or files
// refused at start, 1 when the API cannot listen.
[[nodiscard]] int RunServe(std::span<const std::string_view> args, cli::Console& console,
                           cli::Machine& machine, ServeControl& control);

} // namespace kv58::serve
