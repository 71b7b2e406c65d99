#include "cli/notification_queue.h"

#include <chrono>

namespace stb::cli {

void NotificationQueue::PostNotification(Notification notification) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(notification));
  }
  arrived_.notify_one();
}

bool NotificationQueue::WaitPop(Notification& out, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !queue_.empty(); })) {
    return false;
  }
  out = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

}  // namespace stb::cli
