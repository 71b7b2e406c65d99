#include "image/crc32.h"

#include <array>

namespace stb {

namespace {
constexpr uint32_t kPolynomial = 0x04C11DB7u;

constexpr uint32_t BitwiseStep(uint32_t crc, uint8_t b) {
  crc ^= static_cast<uint32_t>(b) << 24;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
  return crc;
}

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) table[i] = BitwiseStep(i << 24, 0);
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();
static_assert(kTable[0] == 0 && kTable[1] == kPolynomial);
}  // namespace

uint32_t Crc32Bitwise(uint32_t crc, const uint8_t* data, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) crc = BitwiseStep(crc, data[i]);
  return crc;
}

void Crc32BuildTable() {}

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, int32_t n) {
  for (int32_t i = 0; i < n; ++i) crc = (crc << 8) ^ kTable[(crc >> 24) ^ data[i]];
  return crc;
}

}  // namespace stb
