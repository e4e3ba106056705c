#pragma once
// A console of the simulator's own, as Windows opens for it when it starts from the Start
// menu or from Explorer, closes the moment the simulator ends: a message about why it could
// not run would be gone before anyone read it.

namespace kv58::sim {

#ifdef _WIN32
// When no other program shares the console (no command prompt it was typed into), asks for
// Enter before the window closes.
void KeepOwnConsoleForReading();
#else
inline void KeepOwnConsoleForReading() {} // a terminal stays when its program ends
#endif

} // namespace kv58::sim
