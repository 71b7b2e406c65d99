// The millisecond tick and sleep every wait of the link and protocol goes through,
// so tests can run them on a virtual clock.
#pragma once

#include <cstdint>

namespace stb {

class IClock {
 public:
  virtual ~IClock() = default;
  // Monotonic milliseconds; callers take differences in unsigned 32-bit arithmetic.
  virtual uint32_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The process's clock: the steady system clock unless a test installed another.
IClock& GetClock();
// Installs a clock (null restores the system clock). Only while no worker runs.
void SetClock(IClock* clock);

inline uint32_t TickMs() {
  return GetClock().NowMs();
}
inline void SleepMs(uint32_t ms) {
  GetClock().SleepMs(ms);
}

}  // namespace stb
