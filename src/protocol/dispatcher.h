// The seven loader operations: protocol 3.0 commands from version 48 on, the legacy
// set below, chosen by the current protocol version at each call.
#pragma once

#include <cstdint>

#include "image/chunk_table.h"
#include "protocol/callbacks.h"

namespace stb {

int LoaderReadInfo(uint32_t& version, TargetChunkTable& table);
int LoaderSetAddress(uint32_t address);
int LoaderMove(uint32_t first, uint32_t second);
int LoaderDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel);
int LoaderBurn(int32_t totalBytes, ProgressCallback progress);
int LoaderDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength);
int LoaderReboot();

}  // namespace stb
