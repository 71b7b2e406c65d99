#include "image/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace stb {
namespace {

const uint8_t* Bytes(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}

TEST(Crc32, CheckValues) {
  struct Case {
    const char* text;
    uint32_t crc;
  };
  const Case cases[] = {{"123456789", 0x0376E6E7u}, {"abc", 0x9B73448Cu}, {"", 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    const auto n = static_cast<int32_t>(std::strlen(c.text));
    EXPECT_EQ(Crc32Update(kCrc32Start, Bytes(c.text), n), c.crc) << c.text;
    EXPECT_EQ(Crc32Bitwise(kCrc32Start, Bytes(c.text), static_cast<uint32_t>(n)), c.crc) << c.text;
  }
}

TEST(Crc32, PiecesEqualTheWhole) {
  const uint8_t* digits = Bytes("123456789");
  uint32_t crc = Crc32Update(kCrc32Start, digits, 4);
  crc = Crc32Update(crc, digits + 4, 2);
  crc = Crc32Update(crc, digits + 6, 3);
  EXPECT_EQ(crc, 0x0376E6E7u);
}

TEST(Crc32, NonPositiveCountLeavesCrc) {
  EXPECT_EQ(Crc32Update(0x12345678u, Bytes("x"), 0), 0x12345678u);
  EXPECT_EQ(Crc32Update(0x12345678u, Bytes("x"), -5), 0x12345678u);
}

TEST(Crc32, TableMatchesBitwiseOnEveryByte) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  Crc32BuildTable();
  EXPECT_EQ(Crc32Update(kCrc32Start, all.data(), 256), Crc32Bitwise(kCrc32Start, all.data(), 256));
}

}  // namespace
}  // namespace stb
