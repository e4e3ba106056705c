#pragma once
// The few things kv58 asks of its console that differ between platforms.

#include <cstddef>
#include <memory>
#include <streambuf>

namespace kv58::cli {

// Whether standard error is a terminal, where a progress bar can redraw itself.
[[nodiscard]] bool StandardErrorIsTerminal();
// Standard input passes bytes unchanged: no CR LF translation, no end at Ctrl+Z.
void UseBinaryStandardInput();
// A closed pipe on standard output makes writes fail instead of ending the process, so the
// device's commands are all sent even when nobody reads the report.
void SurviveClosedOutput();

// Up to `size` bytes of standard input: the count, 0 at its end, -1 when it cannot be read
// (closed, a folder, open for writing only).
[[nodiscard]] long ReadStandardInput(char* buffer, std::size_t size);

// Raises the limit of open files as far as the system allows and says how many displays a
// fleet can then serve at once, each with a connection of its own; 0 for no limit known.
[[nodiscard]] std::size_t RoomForDisplays();

// Writes `text` to standard error from a signal handler: no allocation, no lock.
void SayFromSignalHandler(const char* text) noexcept;

// Standard input as a stream buffer on which a failed read is an error (the stream goes
// bad), never the end of the input, as std::cin would have it.
[[nodiscard]] std::unique_ptr<std::streambuf> StandardInputBuffer();

} // namespace kv58::cli
