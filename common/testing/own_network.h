#pragma once
// A network namespace of the test's own (Linux, root): the calling thread, and every program it
// starts, are in it with its loopback up for the object's life, and back in the one they came
// from afterwards. Its traffic can be shaped or dropped, and nothing outside reaches it.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kv58::testing {

class OwnNetwork {
public:
  OwnNetwork() : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (home_ < 0 || ::unshare(CLONE_NEWNET) != 0) {
      why = std::string("cannot make a network namespace (it takes root): ") + std::strerror(errno);
    } else if (std::system("/usr/sbin/ip link set lo up") != 0) {
      why = "cannot bring up the loopback of its network namespace (no /usr/sbin/ip?)";
    }
  }
  ~OwnNetwork() {
    if (home_ >= 0) {
      (void)::setns(home_, CLONE_NEWNET);
      ::close(home_);
    }
  }
  OwnNetwork(const OwnNetwork&) = delete;
  OwnNetwork& operator=(const OwnNetwork&) = delete;

  std::string why; // empty when the namespace is there

private:
  int home_;
};

} // namespace kv58::testing
