// The command set of loaders below protocol 3.0: echoed text, raw answers.
#pragma once

#include <cstdint>

#include "context/error_table.h"
#include "image/chunk_table.h"
#include "protocol/callbacks.h"

namespace stb {

// Room for the answers of the box. An answer that does not fit is refused before a
// byte of it is stored:
// - an information reply announcing a table above kLegacyInfoBufferSize bytes returns
//   23 ("Read data error!"), the table and version untouched;
// - a dump total above the caller's buffer (kDumpBufferSize) returns 14 ("Error dump
//   len").
// A dump block that cannot be one of the total's blocks (a length above
// kLegacyBlockSize or short of its part, a data block shorter than its 12-byte lead-in,
// an index outside the total) is answered 'E' like a block that failed its CRC.
inline constexpr int32_t kLegacyInfoBufferSize = 2048;
inline constexpr int32_t kLegacyBlockSize = 1024;
inline constexpr int32_t kLegacyInfoRefused = err::kReadData;
inline constexpr int32_t kLegacyDumpRefused = err::kDumpLength;

int LegacyReadInfo(uint32_t& version, TargetChunkTable& table);
int LegacySetAddress(uint32_t address);
int LegacyMove(uint32_t first, uint32_t second);
int LegacyDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel);
int LegacyBurn(int32_t totalBytes, ProgressCallback progress);
// Below version 32 the stream dump, which takes no range: the range is cut out of the
// whole flash it brings (err::kChunkRange when it lies beyond it). From 32 on the block
// dump.
int LegacyDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength);
int LegacyDumpStream(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress,
                     CancelQuery cancel);
// Succeeds only with every 1024-byte block of [0, total) taken. Failed blocks are asked
// for again until no new block has come for 30 seconds; then the last failure's code.
int LegacyDumpBlocks(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress,
                     CancelQuery cancel, uint32_t rangeOffset, uint32_t rangeLength);
int LegacyReboot();

}  // namespace stb
