#include "ui/worker_event.h"

#include <cstring>

namespace stb {

namespace {
// QEvent::User + 100 .. + 105, mirroring the notification numbers above WM_APP.
constexpr int kFirstType = QEvent::User + static_cast<int>(WM_WORKER_STATUS - WM_APP);
constexpr int kLastType = QEvent::User + static_cast<int>(WM_WORKER_FLASHING - WM_APP);
}  // namespace

WorkerEvent::WorkerEvent(Notification notification)
    : QEvent(TypeFor(notification.message)), notification_(std::move(notification)) {}

QEvent::Type WorkerEvent::TypeFor(uint32_t message) {
  return static_cast<QEvent::Type>(QEvent::User + static_cast<int>(message - WM_APP));
}

WorkerEvent* WorkerEvent::From(QEvent* event) {
  const int type = static_cast<int>(event->type());
  if (type < kFirstType || type > kLastType) return nullptr;
  return dynamic_cast<WorkerEvent*>(event);
}

QString WorkerEvent::Text() const {
  if (!notification_.text) return QString();
  const TextBlock& block = *notification_.text;
  return QString::fromUtf8(block.data(),
                           static_cast<qsizetype>(strnlen(block.data(), block.size())));
}

}  // namespace stb
