// The chain of chunks in the box's flash, and the chunk-table data the box reports
// from it: flash type, info byte, then each chunk's 128 header bytes as they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stb::sim {

inline constexpr size_t kHeaderBytes = 128;
// The table must fit one reply packet (2040 data bytes) and the tool's 16 slots:
// 2 + 15 * 128 = 1922 bytes.
inline constexpr size_t kMaxTableChunks = 15;

struct ChainChunk {
  uint32_t offset;
  uint32_t id;
  uint32_t length;
  uint32_t nextOffset;
  uint32_t crc;
};

// Walks the chain from offset 0 until a chunk with nextOffset 0 (or an erased header
// at offset 0: an empty flash). True when the chain is whole; otherwise false with the
// reason, and `chunks` holds the chunks found before the break.
bool WalkChain(const uint8_t* flash, size_t size, std::vector<ChainChunk>& chunks,
               std::string& error);

// The chunk-table data for the chunks (at most kMaxTableChunks are taken).
std::vector<uint8_t> EncodeChunkTable(const uint8_t* flash, size_t size,
                                      const std::vector<ChainChunk>& chunks, uint8_t flashType,
                                      uint8_t flashInfo);

// Flash size of a flash type code (0 for a code without one), and the code the box
// uses for a size.
uint32_t FlashSizeOfType(uint32_t code);
uint8_t DefaultTypeForSize(size_t size);

}  // namespace stb::sim
