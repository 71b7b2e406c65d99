// A main window that records every notification, for tests of what workers post.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "context/notifications.h"

namespace stb::test {

struct Recorded {
  uint32_t message;
  int64_t wParam;
  int64_t lParam;
  std::string text;  // the block's text for STATUS and LOG
};

class RecordingWindow final : public stb::IMainWindow {
 public:
  void PostNotification(stb::Notification n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Recorded r{n.message, n.wParam, n.lParam, n.text ? std::string(n.text->data()) : ""};
    if (n.text) ++blocksReleased_;  // the unique_ptr frees it as n goes out of scope
    records_.push_back(std::move(r));
  }
  std::vector<Recorded> Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  // The texts of one kind of notification, in order.
  std::vector<std::string> Texts(uint32_t message) const {
    std::vector<std::string> out;
    for (const Recorded& r : Records())
      if (r.message == message) out.push_back(r.text);
    return out;
  }
  // All log texts joined, as the log field would show them.
  std::string LogText() const {
    std::string out;
    for (const std::string& t : Texts(stb::WM_WORKER_LOG)) out += t;
    return out;
  }
  std::vector<int64_t> Progress() const {
    std::vector<int64_t> out;
    for (const Recorded& r : Records())
      if (r.message == stb::WM_WORKER_PROGRESS) out.push_back(r.wParam);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }
  // Text blocks this window received (each released by it as soon as it was recorded).
  int BlocksReleased() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocksReleased_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Recorded> records_;
  int blocksReleased_ = 0;
};

// Installs a recording window (and FormatLog as the log sink) for a test.
class ScopedRecordingWindow {
 public:
  ScopedRecordingWindow();
  ~ScopedRecordingWindow();
  RecordingWindow& operator*() { return window_; }
  RecordingWindow* operator->() { return &window_; }

 private:
  RecordingWindow window_;
};

}  // namespace stb::test
