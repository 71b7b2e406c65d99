// The box's own CRC-32 (polynomial 0x04C11DB7, most significant bit first, start
// 0xFFFFFFFF, no final inversion). Kept apart from the tool's so that a fault in one
// cannot hide behind the same fault in the other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace stb::sim {

inline constexpr uint32_t kBoxCrcStart = 0xFFFFFFFFu;

namespace detail {
constexpr std::array<uint32_t, 256> MakeBoxCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    table[i] = crc;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kBoxCrcTable = MakeBoxCrcTable();
}  // namespace detail

inline uint32_t BoxCrcUpdate(uint32_t crc, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ detail::kBoxCrcTable[(crc >> 24) ^ data[i]];
  return crc;
}
inline uint32_t BoxCrc(const uint8_t* data, size_t n) {
  return BoxCrcUpdate(kBoxCrcStart, data, n);
}

// Big-endian numbers as the loader puts them on the line and into chunk headers.
inline uint32_t GetBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace stb::sim
