#include "image/image_file.h"

#include "image/image_walk.h"

namespace stb {

bool ValidateImage(const std::string& path) {
  FileImageSource source;
  if (source.Open(path) != 0) return false;
  const WalkResult walk = WalkImageChain(source, nullptr);
  return walk.fault == ImageFault::kNone && walk.chunks >= 2;
}

bool FindImageChunk(const std::string& path, uint32_t id, uint32_t& offset, uint32_t& size) {
  FileImageSource source;
  if (source.Open(path) != 0) return false;
  bool found = false;
  uint64_t foundOffset = 0;
  uint64_t foundSize = 0;
  const WalkResult walk = WalkImageChain(source, [&](const WalkedChunk& c) {
    if (c.header.id != id) return;
    found = true;  // a later chunk with the same id wins
    foundOffset = c.offset;
    foundSize = c.occupied;
  });
  if (walk.fault != ImageFault::kNone || !found) return false;
  // The outputs are 32-bit: a chunk lying (or reaching) beyond 4 GiB cannot be
  // described and is not offered, rather than handed out with a wrapped number.
  if (foundOffset > 0xFFFFFFFFu || foundSize > 0xFFFFFFFFu) return false;
  offset = static_cast<uint32_t>(foundOffset);
  size = static_cast<uint32_t>(foundSize);
  return true;
}

}  // namespace stb
