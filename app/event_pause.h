#pragma once
// The pause the window hands the device protocol. It waits as long as asked, but in a local
// event loop, so the window keeps painting and answering the system (Windows marks a window
// that answers nothing for five seconds as "Not Responding") and sees a close. The window
// holds the user's input meanwhile (app/deferred_input.h).

#include "protocol/pause.h"

namespace kv58 {

// Input that arrives meanwhile waits, as it would behind a blocked window, and is handled
// after the handler that paused returns, or dropped by a close.
[[nodiscard]] Pause EventProcessingPause();

} // namespace kv58
