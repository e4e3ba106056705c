#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "tools/kv58/console.h"

namespace kv58::cli {

// Windows runs a console's Ctrl+C handler on a thread of its own: a plain write will do.
void SayFromSignalHandler(const char* text) noexcept {
  (void)::_write(2, text, static_cast<unsigned>(std::strlen(text)));
}

// Winsock sockets count against no per-process limit of files.
std::size_t RoomForDisplays() { return 0; }

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

void UseBinaryStandardInput() { (void)::_setmode(::_fileno(stdin), _O_BINARY); }

void SurviveClosedOutput() {} // Windows has no SIGPIPE: a write to a closed pipe fails

long ReadStandardInput(char* buffer, std::size_t size) {
  const auto count = static_cast<unsigned int>(std::min<std::size_t>(size, INT_MAX));
  return ::_read(::_fileno(stdin), buffer, count);
}

} // namespace kv58::cli
