#include <cerrno>
#include <cstring>

#include "tools/kv58/system_error.h"

namespace kv58::cli {

void ClearSystemError() { errno = 0; }

int LastSystemError() { return errno; }

std::string OpenFailureReason(int error) {
  switch (error) {
  case 0: // the name maps to no device, so nothing was opened
    return "no device has that name (see 'Ports' in kv58 --help)";
  case ENOENT:
  case ENXIO:
  case ENODEV:
    return "it does not exist";
  case EWOULDBLOCK: // the lock of another holder
  case EBUSY:       // held exclusively by another program
    return "another program is using it";
  case EACCES:
  case EPERM:
    return "permission denied (on most systems serial ports belong to the group dialout)";
  case ENOTTY:
    return "it is not a serial port";
  default:
    return std::strerror(error);
  }
}

} // namespace kv58::cli
