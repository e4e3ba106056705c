#pragma once
// The receive timer's beat across the device's pauses and an upload: it is held meanwhile,
// since nothing is read while the line is silent, and resumes with the time it had left. A
// tick that fell due meanwhile runs as soon as the window takes its events again; the regular
// interval comes back with that tick.

#include <QDeadlineTimer>
#include <QTimer>

namespace kv58 {

inline constexpr int kReceiveIntervalMs = 1000;

class HeldReceiveTimer {
public:
  explicit HeldReceiveTimer(QTimer& timer);
  ~HeldReceiveTimer();
  HeldReceiveTimer(const HeldReceiveTimer&) = delete;
  HeldReceiveTimer& operator=(const HeldReceiveTimer&) = delete;

private:
  QTimer& timer_;
  bool wasActive_;
  QDeadlineTimer due_; // when the next tick was due
};

// At every tick: the regular interval again, after a first one shortened by a pause.
void KeepReceiveBeat(QTimer& timer);

} // namespace kv58
