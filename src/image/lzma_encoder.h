// The in-process LZMA encoder used when no lzma.exe stands beside the tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace stb {

inline constexpr int kLzmaHeaderSize = 13;
inline constexpr uint8_t kLzmaProperties = 0x6C;  // (pb 2 * 5 + lp 2) * 9 + lc 0

// The dictionary the box is asked for: the smallest 2^i, 16 <= i <= 24, not below
// size (2^24 for anything larger).
uint32_t LzmaDictionarySize(uint64_t size);

// Writes the .lzma form that the SDK's `lzma e in out -lc0 -lp2` writes: the 13-byte
// header (properties, dictionary, the known plain size) and a raw LZMA1 stream
// without end marker, which is what the box's loader decodes. 0, 39 when memory
// runs out, 41 (no text) when liblzma refuses.
int EncodeLzmaAlone(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace stb
