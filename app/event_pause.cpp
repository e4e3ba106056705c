#include "app/event_pause.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

namespace kv58 {
namespace {

void WaitTakingEvents(std::chrono::milliseconds duration) {
  const QDeadlineTimer deadline(duration, Qt::PreciseTimer);
  QEventLoop loop;
  QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
  // An application on its way out ends every event loop at once; the device still gets the
  // whole pause, waited out plainly.
  const auto left = deadline.remainingTimeAsDuration();
  if (left.count() > 0) {
    std::this_thread::sleep_for(left);
  }
}

} // namespace

Pause EventProcessingPause() {
  return [](std::uint32_t milliseconds) { WaitTakingEvents(std::chrono::milliseconds(milliseconds)); };
}

} // namespace kv58
