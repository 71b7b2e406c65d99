#include "sim/chunk_chain.h"

#include <algorithm>
#include <cstring>

#include "sim/box_crc.h"

namespace stb::sim {

bool WalkChain(const uint8_t* flash, size_t size, std::vector<ChainChunk>& chunks,
               std::string& error) {
  chunks.clear();
  if (size >= 4 && GetBe32(flash) == 0xFFFFFFFFu) return true;  // erased: no chunks
  uint64_t pos = 0;
  // More chunks than fit 128-byte headers into the flash means a loop; stop there.
  for (size_t guard = 0; guard <= size / kHeaderBytes; ++guard) {
    if (pos + kHeaderBytes > size) {
      error = "chunk header at 0x" + std::to_string(pos) + " runs past the end of the flash";
      return false;
    }
    const uint8_t* h = flash + pos;
    ChainChunk c{static_cast<uint32_t>(pos), GetBe32(h), GetBe32(h + 4), GetBe32(h + 8),
                 GetBe32(h + 12)};
    const uint64_t room = c.nextOffset != 0 ? c.nextOffset : size - pos;
    if (uint64_t{c.length} + 16 > room) {
      error = "chunk at offset " + std::to_string(pos) + " has a length that does not fit";
      return false;
    }
    chunks.push_back(c);
    if (c.nextOffset == 0) return true;
    pos += c.nextOffset;
  }
  error = "the chain of chunks does not end";
  return false;
}

std::vector<uint8_t> EncodeChunkTable(const uint8_t* flash, size_t size,
                                      const std::vector<ChainChunk>& chunks, uint8_t flashType,
                                      uint8_t flashInfo) {
  const size_t n = std::min(chunks.size(), kMaxTableChunks);
  std::vector<uint8_t> out(2 + n * kHeaderBytes, 0xFF);
  out[0] = flashType;
  out[1] = flashInfo;
  for (size_t i = 0; i < n; ++i) {
    if (chunks[i].offset + kHeaderBytes <= size)
      std::memcpy(&out[2 + i * kHeaderBytes], flash + chunks[i].offset, kHeaderBytes);
  }
  return out;
}

uint32_t FlashSizeOfType(uint32_t code) {
  switch (code) {
    case 1:
    case 2:
    case 7:
    case 10:
      return 0x80000;
    case 3:
    case 4:
    case 8:
    case 9:
    case 11:
    case 13:
      return 0x100000;
    case 5:
    case 6:
    case 12:
    case 14:
    case 15:
    case 16:
      return 0x200000;
    default:
      return 0;
  }
}

uint8_t DefaultTypeForSize(size_t size) {
  if (size <= 0x80000) return 1;
  if (size <= 0x100000) return 3;
  return 5;
}

}  // namespace stb::sim
