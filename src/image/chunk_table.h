// The box's table of flash chunks as it reports it at connect time.
#pragma once

#include <cstdint>

namespace stb {

// A crc field holding this value ("NCRC" on the wire) is never tested.
inline constexpr uint32_t NoCrcMarker = 0x4E435243u;
inline constexpr uint32_t kBootLoaderId = 0xE3000010u;
inline constexpr uint32_t kUserDatabaseId = 0x04FB0100u;
inline constexpr int kMaxTableChunks = 16;
inline constexpr int kChunkEntrySize = 128;

struct TargetChunkInfo {
  uint32_t id;
  uint32_t length;      // bytes from header offset 16 to the end of the chunk's data
  uint32_t nextOffset;  // distance to the next chunk's header; 0 for the last chunk
  uint32_t crc;         // NoCrcMarker for chunks of type 1 and 4
  char name[16];        // NUL-terminated; bytes behind the NUL are 0xFF
  char version[16];
  char info[16];
  uint32_t download;  // 1 while a per-chunk upgrade sends a file for this chunk
  uint32_t masked;    // 1 when ChunkMask lists the id
};

struct TargetChunkTable {
  uint32_t flashSize;
  uint32_t flashInfo;
  uint32_t chunkCount;
  TargetChunkInfo chunks[kMaxTableChunks];
};

// The process's one table, filled by the connect.
TargetChunkTable& GetTargetChunkTable();

// Always 0. Keeps the first kMaxTableChunks entries of longer data; data shorter than
// its two leading bytes give an empty table. Texts are cut to 15 characters when
// their field holds no NUL.
int DecodeChunkTable(const uint8_t* data, uint32_t length, TargetChunkTable& table);
int ChunkTypeOf(uint32_t id);
uint32_t ChunkSpan(const TargetChunkInfo& info);
// False, writing nothing, for a slot past the table, and for a range that does not
// fit 32 bits or a chunk smaller than the header it is said to start with.
bool ChunkFlashRange(const TargetChunkTable& table, uint32_t n, uint32_t& start, uint32_t& size);

}  // namespace stb
