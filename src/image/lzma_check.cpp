#include "image/lzma_check.h"

#include <lzma.h>

#include <cstring>

namespace stb {

bool LzmaAloneDecodesTo(const uint8_t* packed, size_t packedSize, const uint8_t* plain,
                        size_t size) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_alone_decoder(&stream, UINT64_MAX) != LZMA_OK) return false;
  stream.next_in = packed;
  stream.avail_in = packedSize;
  uint8_t out[64 * 1024];
  size_t compared = 0;
  bool same = true;
  lzma_ret ret = LZMA_OK;
  while (same && ret == LZMA_OK) {
    stream.next_out = out;
    stream.avail_out = sizeof out;
    ret = lzma_code(&stream, LZMA_FINISH);
    const size_t produced = sizeof out - stream.avail_out;
    if (produced > size - compared || std::memcmp(out, plain + compared, produced) != 0) {
      same = false;
    }
    compared += produced;
    // No output and no end: the stream is cut short.
    if (ret == LZMA_OK && produced == 0 && stream.avail_in == 0) ret = LZMA_BUF_ERROR;
  }
  const bool whole = ret == LZMA_STREAM_END && stream.avail_in == 0 && compared == size;
  lzma_end(&stream);
  return same && whole;
}

}  // namespace stb
