#include <sys/resource.h>
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

std::size_t RoomForDisplays() {
  constexpr rlim_t kKeptForKv58 = 64; // its own files, standard streams, a port map
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) {
    return 0;
  }
  if (files.rlim_cur < files.rlim_max) {
    rlimit raised = files;
    raised.rlim_cur = files.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      files = raised;
    }
  }
  if (files.rlim_cur == RLIM_INFINITY) {
    return 0;
  }
  return files.rlim_cur > kKeptForKv58 ? static_cast<std::size_t>(files.rlim_cur - kKeptForKv58) : 1;
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
