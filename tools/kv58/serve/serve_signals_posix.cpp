#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <string_view>
#include <thread>

#include "common/stop_request.h"
#include "tools/kv58/serve/serve_signals.h"

namespace kv58::serve {
namespace {

void Say(std::string_view text) { (void)!write(STDERR_FILENO, text.data(), text.size()); }

[[noreturn]] void Forward(sigset_t signals, ServeControl* control) {
  int stops = 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) {
      continue;
    }
    if (signal == SIGHUP) {
      control->RequestReload();
      continue;
    }
    switch (++stops) {
    case 1:
      RequestStop(StopLevel::Finish, signal);
      control->RequestStop();
      break;
    case 2:
      RequestStop(StopLevel::AtOnce, signal);
      Say("\nkv58 serve: stopping at once\n");
      break;
    default:
      (void)std::signal(signal, SIG_DFL);
      (void)pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
      (void)std::raise(signal);
    }
  }
}

} // namespace

void ForwardSignals(ServeControl& control) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  (void)pthread_sigmask(SIG_BLOCK, &signals, nullptr); // every thread started later inherits it
  std::thread(Forward, signals, &control).detach();
}

} // namespace kv58::serve
