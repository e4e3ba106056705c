#pragma once
// Input that reaches the window while it waits on its device (a step on the driver thread, a
// device pause) is held instead of handled: a click must not start a second step in the middle
// of one. Everything else goes on (painting, timers, the system's requests, a close). What was
// held is handed on in its order once the window waits no more; a close drops it instead, so
// that nothing the user asked for before closing (another connect) happens after.

#include <QObject>
#include <QPointer>
#include <cstddef>
#include <deque>
#include <memory>

class QEvent;

namespace kv58 {

class DeferredInput final : public QObject {
  Q_OBJECT
public:
  DeferredInput();
  ~DeferredInput() override;
  DeferredInput(const DeferredInput&) = delete;
  DeferredInput& operator=(const DeferredInput&) = delete;

  // Input is held while at least one of these lives.
  class Waiting {
  public:
    explicit Waiting(DeferredInput& input);
    ~Waiting();
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

  private:
    DeferredInput& input_;
  };

  // Forgets what is held; how many presses (of a mouse button or a key) were among it.
  std::size_t Drop();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct Held {
    QPointer<QObject> receiver;
    std::unique_ptr<QEvent> event;
  };

  void HandOn();

  std::deque<Held> held_;
  int waiting_ = 0;
};

} // namespace kv58
