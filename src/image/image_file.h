// Firmware image files: chains of chunks, validated and searched.
#pragma once

#include <cstdint>
#include <string>

namespace stb {

// True when the file is a well-formed image of at least two chunks.
bool ValidateImage(const std::string& path);
// True when the chain checks out to its last chunk and holds a chunk with id; then
// offset is that chunk's header position and size the bytes it occupies.
bool FindImageChunk(const std::string& path, uint32_t id, uint32_t& offset, uint32_t& size);

}  // namespace stb
