// Dump and download of loaders of protocol 3.0 and later.
#pragma once

#include <cstdint>

#include "protocol/callbacks.h"

namespace stb {

// Every dump writes into a caller's buffer of this size.
inline constexpr uint32_t kDumpBufferSize = 0x200000;

int PacketDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength);
// data may be rewritten with its compressed form.
int PacketDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel);

}  // namespace stb
