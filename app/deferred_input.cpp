#include "app/deferred_input.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>

namespace kv58 {
namespace {

// What the user does to make something happen. Moves, hovering and focus changes pass: they
// start nothing.
bool IsInput(QEvent::Type type) {
  switch (type) {
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonRelease:
  case QEvent::MouseButtonDblClick:
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
  case QEvent::Wheel:
  case QEvent::Shortcut:
  case QEvent::ContextMenu:
    return true;
  default:
    return false;
  }
}

bool IsPress(const QEvent& event) {
  if (event.type() == QEvent::KeyPress) {
    return !static_cast<const QKeyEvent&>(event).isAutoRepeat();
  }
  return event.type() == QEvent::MouseButtonPress;
}

} // namespace

DeferredInput::DeferredInput() { QCoreApplication::instance()->installEventFilter(this); }

DeferredInput::~DeferredInput() {
  if (QCoreApplication* application = QCoreApplication::instance()) {
    application->removeEventFilter(this);
  }
}

DeferredInput::Waiting::Waiting(DeferredInput& input) : input_(input) { ++input_.waiting_; }

DeferredInput::Waiting::~Waiting() {
  if (--input_.waiting_ == 0 && !input_.held_.empty()) {
    // Handed on from the event loop, once the handler that waited has returned.
    QTimer::singleShot(0, &input_, &DeferredInput::HandOn);
  }
}

std::size_t DeferredInput::Drop() {
  const auto presses =
      std::count_if(held_.begin(), held_.end(), [](const Held& held) { return IsPress(*held.event); });
  held_.clear();
  return static_cast<std::size_t>(presses);
}

bool DeferredInput::eventFilter(QObject* watched, QEvent* event) {
  if (waiting_ == 0 || !IsInput(event->type())) {
    return QObject::eventFilter(watched, event);
  }
  held_.push_back(Held{watched, std::unique_ptr<QEvent>(event->clone())});
  return true;
}

// One event at a time, in order: what a handed-on click starts may wait again and hold more
// behind what is still here, or close the window and drop the rest.
void DeferredInput::HandOn() {
  while (waiting_ == 0 && !held_.empty()) {
    Held next = std::move(held_.front());
    held_.pop_front();
    if (next.receiver) {
      QCoreApplication::sendEvent(next.receiver, next.event.get());
    }
  }
}

} // namespace kv58
