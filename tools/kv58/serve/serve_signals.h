#pragma once
// The process's own requests to a running `kv58 serve`: Ctrl+C and SIGTERM stop it (the first
// once what is being sent has ended, the second at once, a third as the signal would), and
// SIGHUP reads its files again. On Windows, Ctrl+C, Ctrl+Break and closing the console stop it.

#include "tools/kv58/serve/serve_control.h"

namespace kv58::serve {

// Call before any other thread starts: on POSIX the signals are then taken by a thread of
// their own, so they reach `control` without a handler's limits.
void ForwardSignals(ServeControl& control);

} // namespace kv58::serve
