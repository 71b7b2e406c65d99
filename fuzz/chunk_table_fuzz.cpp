// libFuzzer target: chunk-table data as the box sends it, of any length.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/chunk_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  stb::TargetChunkTable table;
  std::memset(&table, 0xA5, sizeof table);
  stb::DecodeChunkTable(data, static_cast<uint32_t>(size), table);
  if (table.chunkCount > static_cast<uint32_t>(stb::kMaxTableChunks)) __builtin_trap();
  for (uint32_t i = 0; i < table.chunkCount; ++i) {
    const stb::TargetChunkInfo& c = table.chunks[i];
    // Every text ends inside its field.
    if (!std::memchr(c.name, 0, 16) || !std::memchr(c.version, 0, 16) ||
        !std::memchr(c.info, 0, 16)) {
      __builtin_trap();
    }
  }
  for (uint32_t n = 0; n <= static_cast<uint32_t>(stb::kMaxTableChunks); ++n) {
    uint32_t start = 0, count = 0;
    if (stb::ChunkFlashRange(table, n, start, count) && uint64_t{start} + count > 0x100000000ull) {
      __builtin_trap();
    }
  }
  return 0;
}
