// The 128-byte header that leads every chunk of an image file and of the flash.
#pragma once

#include <cstdint>

#include "image/chunk_table.h"

namespace stb {

inline constexpr int kChunkHeaderSize = 128;

struct ChunkHeader {
  uint32_t id;
  uint32_t length;
  uint32_t nextOffset;
  uint32_t crc;
  char name[16];
  char version[16];
  char info[16];
  uint8_t reserved[64];
};

// Big-endian helpers shared by everything that reads or writes the box's numbers.
inline uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline void WriteBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

ChunkHeader DecodeChunkHeader(const uint8_t* bytes);

// A complete header for info: numbers, the three 16-byte texts whole, 0xFF behind.
void WriteChunkHeader(const TargetChunkInfo& info, uint8_t* out);
// info's numbers and texts (each up to its NUL) over the first 64 bytes of out.
void PatchChunkHeader(const TargetChunkInfo& info, uint8_t* out);

}  // namespace stb
