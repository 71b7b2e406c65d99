// Unpacks the .lzma data of a compressed download: a 13-byte header (properties,
// dictionary size, uncompressed size little-endian or all 0xFF for unknown), then the
// raw LZMA stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stb::sim {

// True when the data decode to exactly plainSize bytes, using every compressed byte,
// and the header's size (when known) is plainSize as well. False with the reason.
bool UnpackLzma(const std::vector<uint8_t>& packed, uint32_t plainSize, std::vector<uint8_t>& out,
                std::string& why);

}  // namespace stb::sim
