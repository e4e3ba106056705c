#include "serial/custom_rate_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace kv58 {
namespace {

int ControlWithRetry(int fd, unsigned long request, termios2* settings) {
  int result = 0;
  do {
    result = ::ioctl(fd, request, settings);
  } while (result != 0 && errno == EINTR);
  return result;
}

} // namespace

bool ApplyWithCustomRate(int fd, const KernelLineFlags& flags, std::uint32_t rate) {
  termios2 settings{};
  if (ControlWithRetry(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  settings.c_iflag = flags.iflag;
  settings.c_oflag = flags.oflag;
  settings.c_lflag = flags.lflag;
  settings.c_line = flags.line;
  const auto copied = std::min(std::size(settings.c_cc), flags.controlChars.size());
  std::copy_n(flags.controlChars.begin(), copied, std::begin(settings.c_cc));
  settings.c_cflag = (flags.cflag & ~tcflag_t{CBAUD | (CBAUD << IBSHIFT)}) | BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = rate;
  settings.c_ospeed = rate;
  return ControlWithRetry(fd, TCSETS2, &settings) == 0;
}

std::optional<std::uint32_t> ReadCustomRate(int fd) {
  termios2 settings{};
  if (ControlWithRetry(fd, TCGETS2, &settings) != 0 || (settings.c_cflag & CBAUD) != BOTHER) {
    return std::nullopt;
  }
  return settings.c_ospeed;
}

} // namespace kv58
