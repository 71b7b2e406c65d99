#include "box_fixture.h"

#include "image/chunk_header.h"

namespace stb::test {

std::vector<ChunkPlace> ChunkPlaces(const std::vector<uint8_t>& flash) {
  std::vector<ChunkPlace> places;
  size_t pos = 0;
  while (pos + 128 <= flash.size()) {
    const uint32_t id = ReadBe32(&flash[pos]);
    const uint32_t length = ReadBe32(&flash[pos + 4]);
    const uint32_t next = ReadBe32(&flash[pos + 8]);
    places.push_back({id, pos, next != 0 ? next : length + 16});
    if (next == 0) break;
    pos += next;
  }
  return places;
}

}  // namespace stb::test
