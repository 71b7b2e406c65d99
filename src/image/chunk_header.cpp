#include "image/chunk_header.h"

#include <cstring>

namespace stb {

namespace {

void WriteNumbers(const TargetChunkInfo& info, uint8_t* out) {
  WriteBe32(out, info.id);
  WriteBe32(out + 4, info.length);
  WriteBe32(out + 8, info.nextOffset);
  WriteBe32(out + 12, info.crc);
}

// Up to and including the NUL; a text without one inside its field is cut to 15
// characters and terminated, the same cut the chunk-table decoder makes.
void PatchText(const char* text, uint8_t* out) {
  const void* nul = std::memchr(text, 0, 16);
  const size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : 15;
  std::memcpy(out, text, n);
  out[n] = 0;
}

}  // namespace

ChunkHeader DecodeChunkHeader(const uint8_t* bytes) {
  ChunkHeader h;
  h.id = ReadBe32(bytes);
  h.length = ReadBe32(bytes + 4);
  h.nextOffset = ReadBe32(bytes + 8);
  h.crc = ReadBe32(bytes + 12);
  std::memcpy(h.name, bytes + 16, 16);
  std::memcpy(h.version, bytes + 32, 16);
  std::memcpy(h.info, bytes + 48, 16);
  std::memcpy(h.reserved, bytes + 64, 64);
  return h;
}

void WriteChunkHeader(const TargetChunkInfo& info, uint8_t* out) {
  std::memset(out, 0xFF, kChunkHeaderSize);
  WriteNumbers(info, out);
  std::memcpy(out + 16, info.name, 16);
  std::memcpy(out + 32, info.version, 16);
  std::memcpy(out + 48, info.info, 16);
}

void PatchChunkHeader(const TargetChunkInfo& info, uint8_t* out) {
  WriteNumbers(info, out);
  PatchText(info.name, out + 16);
  PatchText(info.version, out + 32);
  PatchText(info.info, out + 48);
}

}  // namespace stb
