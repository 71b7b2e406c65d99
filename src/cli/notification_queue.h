// The command line's main window: workers post into a queue that the main thread
// drains, so notifications are handled on one thread in the order of posting.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "context/notifications.h"

namespace stb::cli {

class NotificationQueue final : public IMainWindow {
 public:
  void PostNotification(Notification notification) override;
  // Waits up to timeoutMs for the next notification; false when none came.
  bool WaitPop(Notification& out, int timeoutMs);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Notification> queue_;
};

}  // namespace stb::cli
