// The command set of loaders below protocol 3.0: echoed text, raw answers.
#pragma once

#include <cstdint>

#include "image/chunk_table.h"
#include "protocol/callbacks.h"

namespace stb {

int LegacyReadInfo(uint32_t& version, TargetChunkTable& table);
int LegacySetAddress(uint32_t address);
int LegacyMove(uint32_t first, uint32_t second);
int LegacyDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel);
int LegacyBurn(int32_t totalBytes, ProgressCallback progress);
// Below version 32 the stream dump, from 32 on the block dump.
int LegacyDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength);
int LegacyDumpStream(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress,
                     CancelQuery cancel);
int LegacyDumpBlocks(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress,
                     CancelQuery cancel, uint32_t rangeOffset, uint32_t rangeLength);
int LegacyReboot();

}  // namespace stb
