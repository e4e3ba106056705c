#pragma once
// Start-up and shutdown of the controller on the system's own port driver, dialogs and
// language file in the working directory.

#include <memory>

namespace kv58 {

class Prompts;
class TForm1;
struct FormServices;

// Builds the main window; when its construction fails, shows the error in the error box
// and gives nothing.
[[nodiscard]] std::unique_ptr<TForm1> CreateMainWindow(const FormServices& services, Prompts& prompts);

// Shows the window and runs the event loop until it closes. 0 after a normal close; 1 when
// start-up failed (the error box has been shown).
[[nodiscard]] int RunController();

} // namespace kv58
