#pragma once
// The few things kv58 asks of its console that differ between platforms.

namespace kv58::cli {

// Whether standard error is a terminal, where a progress bar can redraw itself.
[[nodiscard]] bool StandardErrorIsTerminal();
// Standard input passes bytes unchanged: no CR LF translation, no end at Ctrl+Z.
void UseBinaryStandardInput();

} // namespace kv58::cli
