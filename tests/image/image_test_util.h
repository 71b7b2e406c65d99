// Building image files byte by byte, and a temporary folder that cleans up after itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image_builder.h"

namespace stb::test {

// TempDir and ReadFileBytes come from the shared test support.

enum class CrcMode { kRight, kWrong, kMarker };

struct ChunkSpec {
  uint32_t id;
  uint32_t length;  // bytes from header offset 16 on that the CRC covers
  uint32_t nextOffset;
  CrcMode crc = CrcMode::kRight;
  const char* name = "chunk";
};

// An image in memory. Put writes a header at pos, fills the chunk's bytes up to
// pos + 16 + length (marker chunks: the header only) with a pattern, and sets the
// CRC over them; the buffer grows as needed.
class ImageBytes {
 public:
  ImageBytes& Put(uint64_t pos, const ChunkSpec& chunk);
  ImageBytes& Resize(size_t size);
  std::vector<uint8_t>& bytes() { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace stb::test
