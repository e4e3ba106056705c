#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>

#include "tools/kv58/console.h"

namespace kv58::cli {

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

void UseBinaryStandardInput() { (void)::_setmode(::_fileno(stdin), _O_BINARY); }

void SurviveClosedOutput() {} // Windows has no SIGPIPE: a write to a closed pipe fails

long ReadStandardInput(char* buffer, std::size_t size) {
  const auto count = static_cast<unsigned int>(std::min<std::size_t>(size, INT_MAX));
  return ::_read(::_fileno(stdin), buffer, count);
}

} // namespace kv58::cli
