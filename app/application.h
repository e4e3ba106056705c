#pragma once
// Start-up and shutdown of the controller on the system's own port driver, dialogs and
// language file in the working directory.

namespace kv58 {

// Shows the window and runs the event loop until it closes. 0 after a normal close; 1 when
// start-up failed (the error box has been shown).
[[nodiscard]] int RunController();

} // namespace kv58
