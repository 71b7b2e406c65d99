// The caller's 2 MiB dump buffer with a guard zone behind it, to see that no answer
// of the box is written past its end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "protocol/bulk_transfer.h"

namespace stb::test {

class GuardedDumpBuffer {
 public:
  static constexpr size_t kGuard = 64 * 1024;
  static constexpr uint8_t kUntouched = 0xAA;

  GuardedDumpBuffer() : bytes_(stb::kDumpBufferSize + kGuard, kUntouched) {}
  uint8_t* data() { return bytes_.data(); }
  uint8_t& operator[](size_t i) { return bytes_[i]; }
  std::vector<uint8_t> Slice(size_t from, size_t n) const {
    return {bytes_.begin() + from, bytes_.begin() + from + n};
  }
  bool GuardIntact() const {
    return std::all_of(bytes_.begin() + stb::kDumpBufferSize, bytes_.end(),
                       [](uint8_t b) { return b == kUntouched; });
  }
  bool Untouched() const {
    return std::all_of(bytes_.begin(), bytes_.end(), [](uint8_t b) { return b == kUntouched; });
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace stb::test
