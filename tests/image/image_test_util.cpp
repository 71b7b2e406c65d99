#include "image_test_util.h"

#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "context/settings.h"
#include "image/chunk_header.h"
#include "image/chunk_table.h"
#include "image/crc32.h"

namespace stb::test {

ImageBytes& ImageBytes::Put(uint64_t pos, const ChunkSpec& chunk) {
  const uint64_t end = chunk.crc == CrcMode::kMarker
                           ? pos + kChunkHeaderSize
                           : std::max<uint64_t>(pos + 16 + chunk.length, pos + kChunkHeaderSize);
  if (bytes_.size() < end) bytes_.resize(end, 0xFF);
  uint8_t* h = bytes_.data() + pos;
  for (uint64_t i = pos + kChunkHeaderSize; i < end; ++i)
    bytes_[i] = static_cast<uint8_t>(i * 7 + 3);
  WriteBe32(h, chunk.id);
  WriteBe32(h + 4, chunk.length);
  WriteBe32(h + 8, chunk.nextOffset);
  std::memset(h + 16, 0, 48);
  std::strncpy(reinterpret_cast<char*>(h + 16), chunk.name, 16);
  std::strcpy(reinterpret_cast<char*>(h + 32), "1.0");
  std::memset(h + 64, 0xFF, 64);
  uint32_t crc = NoCrcMarker;
  if (chunk.crc != CrcMode::kMarker) {
    crc = Crc32Update(kCrc32Start, h + 16, static_cast<int32_t>(chunk.length));
    if (chunk.crc == CrcMode::kWrong) crc ^= 1;
  }
  WriteBe32(h + 12, crc);
  return *this;
}

ImageBytes& ImageBytes::Resize(size_t size) {
  bytes_.resize(size, 0xFF);
  return *this;
}

}  // namespace stb::test
