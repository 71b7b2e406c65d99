#include "image/chunk_table.h"

#include <cstring>

#include "image/chunk_header.h"

namespace stb {

namespace {

struct TypeRow {
  int type;
  uint32_t id;
};
constexpr TypeRow kTypeRows[] = {
    {1, 0xE3000010u},
    {2, 0x02FD0200u},
    {3, 0x03FC0100u},
    {4, 0x04FB0100u},
};

uint32_t FlashSizeOf(uint8_t code) {
  switch (code) {
    case 1:
    case 2:
    case 7:
    case 10:
      return 0x80000u;
    case 3:
    case 4:
    case 8:
    case 9:
    case 11:
    case 13:
      return 0x100000u;
    case 5:
    case 6:
    case 12:
    case 14:
    case 15:
    case 16:
      return 0x200000u;
    default:
      return 0;
  }
}

// Copies the text up to and including its NUL. A field with no NUL in its 16 bytes
// keeps its first 15 characters and gets the NUL in byte 15, so every name stays a
// terminated string inside its field (log lines print it with %s).
void CopyBoundedText(char* to, const uint8_t* from) {
  const void* nul = std::memchr(from, 0, 16);
  const size_t n =
      nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - from) : 15;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

void DecodeEntry(const uint8_t* entry, TargetChunkInfo& slot) {
  std::memset(&slot, 0xFF, sizeof slot);
  slot.id = ReadBe32(entry);
  slot.length = ReadBe32(entry + 4);
  slot.nextOffset = ReadBe32(entry + 8);
  slot.crc = ReadBe32(entry + 12);
  CopyBoundedText(slot.name, entry + 16);
  CopyBoundedText(slot.version, entry + 32);
  CopyBoundedText(slot.info, entry + 48);
  const int type = ChunkTypeOf(slot.id);
  if (type == 1 || type == 4) slot.crc = NoCrcMarker;
  slot.download = 0;
  slot.masked = 0;
}

}  // namespace

TargetChunkTable& GetTargetChunkTable() {
  static TargetChunkTable table{};
  return table;
}

int DecodeChunkTable(const uint8_t* data, uint32_t length, TargetChunkTable& table) {
  // Fewer than the two leading bytes hold no table at all: the count would wrap.
  if (data == nullptr || length < 2) {
    table.flashSize = 0;
    table.flashInfo = 0;
    table.chunkCount = 0;
    return 0;
  }
  table.flashSize = FlashSizeOf(data[0]);
  table.flashInfo = data[1];
  // A box announcing more entries than the table holds keeps its first 16; the rest
  // of its data is ignored like a trailing partial entry.
  uint32_t count = (length - 2) / kChunkEntrySize;
  if (count > kMaxTableChunks) count = kMaxTableChunks;
  table.chunkCount = count;
  for (uint32_t i = 0; i < count; ++i) DecodeEntry(data + 2 + kChunkEntrySize * i, table.chunks[i]);
  return 0;
}

int ChunkTypeOf(uint32_t id) {
  for (const TypeRow& row : kTypeRows) {
    if ((row.id >> 16) == (id >> 16)) return row.type;
  }
  return 0;
}

uint32_t ChunkSpan(const TargetChunkInfo& info) {
  return info.nextOffset != 0 ? info.nextOffset : info.length + 16;
}

bool ChunkFlashRange(const TargetChunkTable& table, uint32_t n, uint32_t& start, uint32_t& size) {
  if (n >= table.chunkCount || n >= static_cast<uint32_t>(kMaxTableChunks)) return false;
  // Sums in 64 bits: a table whose chunks do not fit a 32-bit flash, or a chunk
  // smaller than the header it is said to start with, has no range to dump.
  auto span = [](const TargetChunkInfo& c) {
    return c.nextOffset != 0 ? uint64_t{c.nextOffset} : uint64_t{c.length} + 16;
  };
  uint64_t first = 0;
  for (uint32_t i = 0; i < n; ++i) first += span(table.chunks[i]);
  uint64_t count = span(table.chunks[n]);
  if (table.chunks[n].id != kBootLoaderId) {
    if (count < static_cast<uint64_t>(kChunkHeaderSize)) return false;
    first += kChunkHeaderSize;
    count -= kChunkHeaderSize;
  }
  if (first + count > 0xFFFFFFFFull + 1) return false;
  start = static_cast<uint32_t>(first);
  size = static_cast<uint32_t>(count);
  return true;
}

}  // namespace stb
