#include "image/lzma_encoder.h"

#include <lzma.h>

#include <new>

#include "context/error_table.h"

namespace stb {

namespace {

void PutLe(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Room for the raw stream of size plain bytes; LZMA1 grows incompressible data by
// about 1.5 %, so this bound is never reached in practice and merely grows.
size_t FirstGuess(size_t size) {
  return size + size / 32 + 1024;
}

}  // namespace

uint32_t LzmaDictionarySize(uint64_t size) {
  for (int i = 16; i < 24; ++i) {
    if ((uint64_t{1} << i) >= size) return uint32_t{1} << i;
  }
  return uint32_t{1} << 24;
}

int EncodeLzmaAlone(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT)) return err::kEncoderNotStarted;
  // As the SDK's encoder: normal mode, bt4, 128 fast bytes; lc 0, lp 2, pb 2.
  options.dict_size = LzmaDictionarySize(size);
  options.lc = 0;
  options.lp = 2;
  options.pb = 2;
  options.mode = LZMA_MODE_NORMAL;
  options.mf = LZMA_MF_BT4;
  options.nice_len = 128;
  options.depth = 0;
  // No end marker: the size stands in the header, and older loaders refuse the marker.
  options.ext_flags = 0;
  options.ext_size_low = static_cast<uint32_t>(uint64_t{size});
  options.ext_size_high = static_cast<uint32_t>(uint64_t{size} >> 32);

  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  lzma_ret ret = lzma_raw_encoder(&strm, filters);
  if (ret != LZMA_OK) return ret == LZMA_MEM_ERROR ? err::kMalloc : err::kEncoderNotStarted;

  int rc = err::kSuccess;
  try {
    out.assign(kLzmaHeaderSize + FirstGuess(size), 0);
    out[0] = kLzmaProperties;
    PutLe(out.data() + 1, options.dict_size, 4);
    PutLe(out.data() + 5, size, 8);
    strm.next_in = data;
    strm.avail_in = size;
    size_t written = kLzmaHeaderSize;
    for (;;) {
      strm.next_out = out.data() + written;
      strm.avail_out = out.size() - written;
      ret = lzma_code(&strm, LZMA_FINISH);
      written = out.size() - strm.avail_out;
      if (ret == LZMA_STREAM_END) break;
      if (ret != LZMA_OK) {
        rc = ret == LZMA_MEM_ERROR ? err::kMalloc : err::kEncoderNotStarted;
        break;
      }
      if (strm.avail_out == 0) out.resize(out.size() + out.size() / 2);
    }
    out.resize(rc == err::kSuccess ? written : 0);
  } catch (const std::bad_alloc&) {
    rc = err::kMalloc;
    out.clear();
  }
  lzma_end(&strm);
  return rc;
}

}  // namespace stb
