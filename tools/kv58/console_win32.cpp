#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "tools/kv58/console.h"

namespace kv58::cli {

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

void UseBinaryStandardInput() { (void)::_setmode(::_fileno(stdin), _O_BINARY); }

} // namespace kv58::cli
