#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "tools/kv58/console.h"

namespace kv58::cli {

void SayFromSignalHandler(const char* text) noexcept {
  const std::size_t length = std::strlen(text);
  (void)!::write(STDERR_FILENO, text, length);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void UseBinaryStandardInput() {} // POSIX input is always bytes as they are

void SurviveClosedOutput() { (void)std::signal(SIGPIPE, SIG_IGN); }

long ReadStandardInput(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, size);
    if (got >= 0 || errno != EINTR) {
      return static_cast<long>(got);
    }
  }
}

} // namespace kv58::cli
