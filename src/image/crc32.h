// CRC-32 as the box's loader computes it: polynomial 0x04C11DB7, most significant
// bit first, start 0xFFFFFFFF at every use, no final inversion (CRC-32/MPEG-2).
#pragma once

#include <cstdint>

namespace stb {

inline constexpr uint32_t kCrc32Start = 0xFFFFFFFFu;

// The CRC after feeding n bytes bit by bit; used to build the table.
uint32_t Crc32Bitwise(uint32_t crc, const uint8_t* data, uint32_t n);
// Kept for the workers' start-up step; the table is computed at compile time, so
// this changes nothing and is safe from any thread.
void Crc32BuildTable();
// The CRC after feeding n bytes through the table; n <= 0 returns crc unchanged.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, int32_t n);
// Convenience: the CRC of n bytes from the start value.
inline uint32_t Crc32Of(const uint8_t* data, int32_t n) {
  return Crc32Update(kCrc32Start, data, n);
}

}  // namespace stb
