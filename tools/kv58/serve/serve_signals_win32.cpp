#include <windows.h>

#include <atomic>

#include "common/stop_request.h"
#include "tools/kv58/serve/serve_signals.h"

namespace kv58::serve {
namespace {

std::atomic<ServeControl*> served{nullptr};
std::atomic<int> stops{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
  case CTRL_C_EVENT:
  case CTRL_BREAK_EVENT:
  case CTRL_CLOSE_EVENT:
  case CTRL_SHUTDOWN_EVENT:
    if (++stops == 1) {
      RequestStop(StopLevel::Finish);
      served.load()->RequestStop();
    } else {
      RequestStop(StopLevel::AtOnce);
    }
    return TRUE;
  default:
    return FALSE;
  }
}

} // namespace

void ForwardSignals(ServeControl& control) {
  served = &control;
  (void)SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

} // namespace kv58::serve
