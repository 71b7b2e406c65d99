#include "link/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace stb {

namespace {
class SystemClock final : public IClock {
 public:
  uint32_t NowMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<IClock*>& ClockSlot() {
  static std::atomic<IClock*> slot{nullptr};
  return slot;
}
}  // namespace

IClock& GetClock() {
  IClock* clock = ClockSlot().load();
  return clock != nullptr ? *clock : TheSystemClock();
}

void SetClock(IClock* clock) {
  ClockSlot().store(clock);
}

}  // namespace stb
