// Bounds an exchange that keeps the line busy without getting anywhere: a box that
// answers, but never with what moves the exchange on, must not hold the tool forever.
#pragma once

#include <cstdint>

#include "link/clock.h"

namespace stb {

// How long an exchange may go on without progress before it gives up.
inline constexpr uint32_t kNoProgressLimitMs = 30000;

class NoProgressWatchdog {
 public:
  explicit NoProgressWatchdog(uint32_t limitMs = kNoProgressLimitMs)
      : limitMs_(limitMs), since_(TickMs()) {}

  // The exchange moved on (or, for the burn, was silent): the time starts again.
  void Restart() { since_ = TickMs(); }
  bool Expired() const { return TickMs() - since_ >= limitMs_; }

 private:
  uint32_t limitMs_;
  uint32_t since_;
};

}  // namespace stb
