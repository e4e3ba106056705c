#pragma once
// The pause the window hands the device protocol. It waits as long as asked, but in a local
// event loop that takes no user input, so the window keeps painting and answering the system
// (Windows marks a window that answers nothing for five seconds as "Not Responding").

#include "protocol/pause.h"

namespace kv58 {

// Input that arrives meanwhile waits, as it would behind a blocked window, and is handled
// after the handler that paused returns.
[[nodiscard]] Pause EventProcessingPause();

} // namespace kv58
