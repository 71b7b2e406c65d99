#include "image/chunk_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace stb {
namespace {

// A chunk as DecodeChunkTable leaves it: 0xFF behind each text's NUL.
TargetChunkInfo DecodedInfo(const char* name) {
  TargetChunkInfo info;
  std::memset(&info, 0xFF, sizeof info);
  info.id = 0x02FD0100u;
  info.length = 0x00000190u;
  info.nextOffset = 0x00000200u;
  info.crc = NoCrcMarker;
  std::memcpy(info.name, name, std::strlen(name) + 1);
  std::memcpy(info.version, "1.2", 4);
  std::memcpy(info.info, "", 1);
  return info;
}

TEST(WriteChunkHeader, ByteLayout) {
  const TargetChunkInfo info = DecodedInfo("logo");
  std::vector<uint8_t> out(128, 0x00);
  WriteChunkHeader(info, out.data());
  const uint8_t numbers[16] = {0x02, 0xFD, 0x01, 0x00, 0x00, 0x00, 0x01, 0x90,
                               0x00, 0x00, 0x02, 0x00, 'N',  'C',  'R',  'C'};
  EXPECT_EQ(std::memcmp(out.data(), numbers, 16), 0);
  EXPECT_EQ(std::memcmp(out.data() + 16, "logo", 5), 0);
  for (int i = 21; i < 32; ++i) EXPECT_EQ(out[i], 0xFF) << i;  // as they stand in info
  EXPECT_EQ(std::memcmp(out.data() + 32, "1.2", 4), 0);
  EXPECT_EQ(out[48], 0x00);
  for (int i = 64; i < 128; ++i) EXPECT_EQ(out[i], 0xFF) << i;
}

TEST(PatchChunkHeader, KeepsWhatStandsBehindEachNul) {
  std::vector<uint8_t> header(128);
  for (int i = 0; i < 128; ++i) header[i] = static_cast<uint8_t>(0x80 + i);
  std::memcpy(header.data() + 16, "twelve_chars", 13);
  const std::vector<uint8_t> before = header;

  PatchChunkHeader(DecodedInfo("logo"), header.data());
  EXPECT_EQ(ReadBe32(header.data()), 0x02FD0100u);
  EXPECT_EQ(ReadBe32(header.data() + 4), 0x190u);
  EXPECT_EQ(ReadBe32(header.data() + 8), 0x200u);
  EXPECT_EQ(std::memcmp(header.data() + 12, "NCRC", 4), 0);
  EXPECT_EQ(std::memcmp(header.data() + 16, "logo", 5), 0);
  // Bytes 21-31 of the old name, those behind the other texts, and 64-127 stay.
  for (int i = 21; i < 32; ++i) EXPECT_EQ(header[i], before[i]) << i;
  EXPECT_EQ(std::memcmp(header.data() + 32, "1.2", 4), 0);
  for (int i = 36; i < 48; ++i) EXPECT_EQ(header[i], before[i]) << i;
  EXPECT_EQ(header[48], 0);
  for (int i = 49; i < 128; ++i) EXPECT_EQ(header[i], before[i]) << i;
}

TEST(PatchChunkHeader, TextWithoutNulStaysInItsField) {
  TargetChunkInfo info = DecodedInfo("x");
  std::memset(info.name, 'N', 16);
  std::vector<uint8_t> header(128, 0x11);
  PatchChunkHeader(info, header.data());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header.data() + 16)), std::string(15, 'N'));
  EXPECT_EQ(std::memcmp(header.data() + 32, "1.2", 4), 0);  // version not overrun
}

TEST(DecodeChunkHeader, ReadsBigEndianNumbersAndRawTexts) {
  std::vector<uint8_t> bytes(128, 0xFF);
  WriteBe32(bytes.data(), 0x04FB0100u);
  WriteBe32(bytes.data() + 4, 0x7F0u);
  WriteBe32(bytes.data() + 8, 0x1000u);
  std::memcpy(bytes.data() + 12, "NCRC", 4);
  std::memcpy(bytes.data() + 16, "db", 3);
  const ChunkHeader h = DecodeChunkHeader(bytes.data());
  EXPECT_EQ(h.id, 0x04FB0100u);
  EXPECT_EQ(h.length, 0x7F0u);
  EXPECT_EQ(h.nextOffset, 0x1000u);
  EXPECT_EQ(h.crc, NoCrcMarker);
  EXPECT_STREQ(h.name, "db");
  EXPECT_EQ(static_cast<uint8_t>(h.name[3]), 0xFF);
}

}  // namespace
}  // namespace stb
