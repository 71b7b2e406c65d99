// A clock that only moves when someone sleeps on it, so timeouts cost no real time.
#pragma once

#include <functional>
#include <vector>

#include "link/clock.h"

namespace stb::test {

class VirtualClock final : public stb::IClock {
 public:
  uint32_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    totalSlept_ += ms;
    for (auto& listener : listeners_) listener(now_);
  }
  void Advance(uint32_t ms) { SleepMs(ms); }
  uint64_t TotalSlept() const { return totalSlept_; }
  // Called after every move of the clock (the memory port releases due bytes).
  void OnAdvance(std::function<void(uint32_t)> listener) {
    listeners_.push_back(std::move(listener));
  }

 private:
  uint32_t now_ = 1000;
  uint64_t totalSlept_ = 0;
  std::vector<std::function<void(uint32_t)>> listeners_;
};

// Installs a virtual clock for the life of a test.
class ScopedVirtualClock {
 public:
  ScopedVirtualClock() { stb::SetClock(&clock_); }
  ~ScopedVirtualClock() { stb::SetClock(nullptr); }
  VirtualClock& operator*() { return clock_; }
  VirtualClock* operator->() { return &clock_; }

 private:
  VirtualClock clock_;
};

}  // namespace stb::test
