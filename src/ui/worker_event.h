// A worker notification carried as a Qt event: each notification has its own event
// type, and the event owns the notification's text block until it is destroyed.
#pragma once

#include <QEvent>
#include <QString>

#include "context/notifications.h"

namespace stb {

class WorkerEvent final : public QEvent {
 public:
  explicit WorkerEvent(Notification notification);

  // The event type of a notification number (WM_WORKER_STATUS .. WM_WORKER_FLASHING).
  static QEvent::Type TypeFor(uint32_t message);
  // The event as a worker event, or null.
  static WorkerEvent* From(QEvent* event);

  uint32_t Message() const { return notification_.message; }
  int64_t WParam() const { return notification_.wParam; }
  int64_t LParam() const { return notification_.lParam; }
  // The block's text (UTF-8, never read past the block); empty without a block.
  QString Text() const;
  // Hands the notification on, block included, to be re-posted elsewhere.
  Notification Take() { return std::move(notification_); }

 private:
  Notification notification_;
};

}  // namespace stb
