#include <unistd.h>

#include "tools/kv58/console.h"

namespace kv58::cli {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void UseBinaryStandardInput() {} // POSIX input is always bytes as they are

} // namespace kv58::cli
