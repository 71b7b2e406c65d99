#include "sim/lzma_unpack.h"

#include <lzma.h>

namespace stb::sim {

namespace {
constexpr size_t kLzmaHeader = 13;
// Bounds the dictionary a hostile header may ask for.
constexpr uint64_t kMemoryLimit = 64u << 20;
}  // namespace

bool UnpackLzma(const std::vector<uint8_t>& packed, uint32_t plainSize, std::vector<uint8_t>& out,
                std::string& why) {
  if (packed.size() < kLzmaHeader) {
    why = "shorter than the 13-byte header";
    return false;
  }
  uint64_t announced = 0;
  for (int i = 7; i >= 0; --i) announced = (announced << 8) | packed[5 + i];
  if (announced != UINT64_MAX && announced != plainSize) {
    why = "header announces " + std::to_string(announced) + " bytes, the command " +
          std::to_string(plainSize);
    return false;
  }
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_alone_decoder(&stream, kMemoryLimit) != LZMA_OK) {
    why = "decoder not available";
    return false;
  }
  out.assign(plainSize, 0);
  // One spare byte shows a stream that holds more than announced.
  std::vector<uint8_t> spare(1);
  stream.next_in = packed.data();
  stream.avail_in = packed.size();
  stream.next_out = out.data();
  stream.avail_out = out.size();
  lzma_ret r = LZMA_OK;
  while (r == LZMA_OK) {
    if (stream.avail_out == 0) {
      if (stream.total_out > plainSize) break;
      stream.next_out = spare.data();
      stream.avail_out = spare.size();
    }
    r = lzma_code(&stream, LZMA_FINISH);
  }
  const uint64_t produced = stream.total_out;
  const size_t unused = stream.avail_in;
  lzma_end(&stream);
  if (r != LZMA_STREAM_END) {
    why = r == LZMA_MEMLIMIT_ERROR ? "dictionary too large"
          : produced > plainSize   ? "stream holds more than announced"
                                   : "corrupt or truncated stream (" + std::to_string(produced) +
                                       " of " + std::to_string(plainSize) + " bytes)";
    return false;
  }
  if (produced != plainSize) {
    why = "stream holds " + std::to_string(produced) + " bytes, the command announced " +
          std::to_string(plainSize);
    return false;
  }
  if (unused != 0) {
    why = std::to_string(unused) + " compressed bytes behind the end of the stream";
    return false;
  }
  return true;
}

}  // namespace stb::sim
