#include "image/chunk_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/chunk_header.h"

namespace stb {
namespace {

struct Entry {
  uint32_t id;
  uint32_t length;
  uint32_t nextOffset;
  uint32_t crc;
  const char* name;
};

std::vector<uint8_t> TableData(uint8_t flashCode, const std::vector<Entry>& entries,
                               size_t trailing = 0) {
  std::vector<uint8_t> d(2 + 128 * entries.size() + trailing, 0xAB);
  d[0] = flashCode;
  d[1] = 0x5A;
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* e = d.data() + 2 + 128 * i;
    WriteBe32(e, entries[i].id);
    WriteBe32(e + 4, entries[i].length);
    WriteBe32(e + 8, entries[i].nextOffset);
    WriteBe32(e + 12, entries[i].crc);
    std::memset(e + 16, 0x00, 48);
    std::memcpy(e + 16, entries[i].name, std::strlen(entries[i].name));
    std::memcpy(e + 32, "v1", 2);
  }
  return d;
}

const std::vector<Entry> kThreeChunks = {
    {0xE3000010u, 240, 256, 0x11111111u, "boot"},
    {0x02FD0100u, 400, 512, 0x22222222u, "logo"},
    {0x04FB0100u, 200, 0, 0x33333333u, "userdb"},
};

TEST(DecodeChunkTable, ThreeChunksAndTheirFlashRanges) {
  const auto data = TableData(5, kThreeChunks, 50);
  TargetChunkTable table{};
  ASSERT_EQ(DecodeChunkTable(data.data(), static_cast<uint32_t>(data.size()), table), 0);
  EXPECT_EQ(table.flashSize, 0x200000u);
  EXPECT_EQ(table.flashInfo, 0x5Au);
  ASSERT_EQ(table.chunkCount, 3u);  // the trailing 50 bytes are no entry
  EXPECT_EQ(table.chunks[1].id, 0x02FD0100u);
  EXPECT_EQ(table.chunks[1].length, 400u);
  EXPECT_EQ(table.chunks[1].nextOffset, 512u);
  EXPECT_STREQ(table.chunks[1].name, "logo");
  EXPECT_STREQ(table.chunks[1].version, "v1");
  EXPECT_EQ(table.chunks[1].download, 0u);
  EXPECT_EQ(table.chunks[1].masked, 0u);

  struct Range {
    uint32_t slot;
    bool ok;
    uint32_t start;
    uint32_t size;
  };
  const Range ranges[] = {
      {0, true, 0, 256}, {1, true, 384, 384}, {2, true, 896, 88}, {3, false, 0, 0}};
  for (const Range& r : ranges) {
    uint32_t start = 0xDEAD, size = 0xBEEF;
    EXPECT_EQ(ChunkFlashRange(table, r.slot, start, size), r.ok) << r.slot;
    EXPECT_EQ(start, r.ok ? r.start : 0xDEADu) << r.slot;
    EXPECT_EQ(size, r.ok ? r.size : 0xBEEFu) << r.slot;
  }
}

TEST(DecodeChunkTable, CrcMarkerForcedForTypesOneAndFour) {
  const auto data = TableData(1, {{0xE3000010u, 200, 256, 1, "a"},
                                  {0xE3001234u, 200, 256, 2, "b"},
                                  {0x04FB0100u, 200, 256, 3, "c"},
                                  {0x03FC0100u, 200, 256, 4, "d"},
                                  {0x02FD0200u, 200, 0, 5, "e"}});
  TargetChunkTable table{};
  DecodeChunkTable(data.data(), static_cast<uint32_t>(data.size()), table);
  const uint32_t expected[] = {NoCrcMarker, NoCrcMarker, NoCrcMarker, 4, 5};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(table.chunks[i].crc, expected[i]) << i;
}

TEST(DecodeChunkTable, FlashTypeCodes) {
  const std::pair<uint8_t, uint32_t> codes[] = {
      {0, 0},         {1, 0x80000},   {10, 0x80000}, {3, 0x100000}, {13, 0x100000},
      {5, 0x200000u}, {16, 0x200000}, {17, 0},       {255, 0},
  };
  for (const auto& [code, size] : codes) {
    const uint8_t data[2] = {code, 7};
    TargetChunkTable table{};
    DecodeChunkTable(data, 2, table);
    EXPECT_EQ(table.flashSize, size) << int{code};
    EXPECT_EQ(table.flashInfo, 7u);
    EXPECT_EQ(table.chunkCount, 0u);
  }
}

TEST(DecodeChunkTable, TextsEndAtTheirNulAndStayInsideTheirField) {
  auto data = TableData(1, {{0x03FC0100u, 200, 0, 0, "abcde"}});
  uint8_t* e = data.data() + 2;
  std::memset(e + 48, 'X', 16);  // info without any NUL
  TargetChunkTable table{};
  DecodeChunkTable(data.data(), static_cast<uint32_t>(data.size()), table);
  const TargetChunkInfo& c = table.chunks[0];
  EXPECT_STREQ(c.name, "abcde");
  for (int i = 6; i < 16; ++i) EXPECT_EQ(static_cast<uint8_t>(c.name[i]), 0xFF) << i;
  // Cut to 15 characters and terminated; download/masked behind it are untouched.
  EXPECT_EQ(std::string(c.info), std::string(15, 'X'));
  EXPECT_EQ(c.download, 0u);
}

// More entries than the table has slots, and data too short for the two leading
// bytes: nothing is written past the table or read past the data.
TEST(DecodeChunkTable, OversizedAndTruncatedData) {
  struct Guarded {
    TargetChunkTable table;
    uint8_t after[256];
  };
  std::vector<Entry> many(20, Entry{0x03FC0100u, 200, 256, 0, "x"});
  for (size_t i = 0; i < many.size(); ++i) many[i].length = static_cast<uint32_t>(i);
  const auto data = TableData(3, many);
  Guarded g;
  std::memset(&g, 0xCC, sizeof g);
  DecodeChunkTable(data.data(), static_cast<uint32_t>(data.size()), g.table);
  EXPECT_EQ(g.table.chunkCount, 16u);
  EXPECT_EQ(g.table.chunks[15].length, 15u);
  for (uint8_t b : g.after) ASSERT_EQ(b, 0xCC);

  for (uint32_t length : {0u, 1u}) {
    std::memset(&g, 0xCC, sizeof g);
    const std::vector<uint8_t> one(length, 3);  // exactly length bytes: ASan sees reads past
    DecodeChunkTable(one.empty() ? nullptr : one.data(), length, g.table);
    EXPECT_EQ(g.table.chunkCount, 0u) << length;
    EXPECT_EQ(g.table.chunks[0].id, 0xCCCCCCCCu) << length;  // slots keep what they held
    for (uint8_t b : g.after) ASSERT_EQ(b, 0xCC);
  }
}

TEST(ChunkTypeOf, FamiliesByUpperSixteenBits) {
  const std::pair<uint32_t, int> ids[] = {{0xE3000010u, 1}, {0xE300FFFFu, 1}, {0x02FD0100u, 2},
                                          {0x02FD0300u, 2}, {0x03FC0100u, 3}, {0x04FB0100u, 4},
                                          {0x05FA0100u, 0}, {0x00000000u, 0}};
  for (const auto& [id, type] : ids) EXPECT_EQ(ChunkTypeOf(id), type) << std::hex << id;
}

TEST(ChunkFlashRange, OnlyTheExactLoaderIdKeepsItsHeader) {
  TargetChunkTable table{};
  table.chunkCount = 2;
  table.chunks[0] = TargetChunkInfo{0xE3000020u, 240, 256, 0, {}, {}, {}, 0, 0};
  table.chunks[1] = TargetChunkInfo{0xE3000010u, 240, 0, 0, {}, {}, {}, 0, 0};
  uint32_t start = 0, size = 0;
  ASSERT_TRUE(ChunkFlashRange(table, 0, start, size));
  EXPECT_EQ(start, 128u);
  EXPECT_EQ(size, 128u);
  ASSERT_TRUE(ChunkFlashRange(table, 1, start, size));
  EXPECT_EQ(start, 256u);
  EXPECT_EQ(size, 256u);
}

// A box's table whose numbers make no flash range: a chunk smaller than its header
// would give a size near 4 GiB, spans summing past 4 GiB a wrapped start.
TEST(ChunkFlashRange, RefusesRangesThatDoNotFit) {
  TargetChunkTable table{};
  table.chunkCount = 3;
  table.chunks[0] = TargetChunkInfo{0x03FC0100u, 50, 100, 0, {}, {}, {}, 0, 0};
  table.chunks[1] = TargetChunkInfo{0x03FC0100u, 0xFFFFFFF0u, 0, 0, {}, {}, {}, 0, 0};
  table.chunks[2] = TargetChunkInfo{0x03FC0100u, 200, 0, 0, {}, {}, {}, 0, 0};
  for (uint32_t slot : {0u, 2u}) {
    uint32_t start = 7, size = 7;
    EXPECT_FALSE(ChunkFlashRange(table, slot, start, size)) << slot;
    EXPECT_EQ(start, 7u);
    EXPECT_EQ(size, 7u);
  }
  table.chunkCount = 40;  // a count no decoder gives: still no slot beyond the table
  uint32_t start = 0, size = 0;
  EXPECT_FALSE(ChunkFlashRange(table, 16, start, size));
}

TEST(ChunkSpan, NextOffsetOrLengthOfTheLast) {
  EXPECT_EQ(ChunkSpan(TargetChunkInfo{1, 240, 256, 0, {}, {}, {}, 0, 0}), 256u);
  EXPECT_EQ(ChunkSpan(TargetChunkInfo{1, 240, 0, 0, {}, {}, {}, 0, 0}), 256u);
}

}  // namespace
}  // namespace stb
