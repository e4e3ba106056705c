#include "app/receive_beat.h"

#include <algorithm>

namespace kv58 {

HeldReceiveTimer::HeldReceiveTimer(QTimer& timer)
    : timer_(timer), wasActive_(timer.isActive()),
      due_(std::max(timer.remainingTime(), 0), Qt::PreciseTimer) {
  timer_.stop();
}

HeldReceiveTimer::~HeldReceiveTimer() {
  if (wasActive_) {
    timer_.start(static_cast<int>(std::max<qint64>(due_.remainingTime(), 0)));
  }
}

void KeepReceiveBeat(QTimer& timer) {
  if (timer.interval() != kReceiveIntervalMs) {
    timer.setInterval(kReceiveIntervalMs); // restarts it from this tick
  }
}

} // namespace kv58
