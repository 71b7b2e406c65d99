// libFuzzer target: the bytes of an image file, walked as validation and inspection do.
#include <cstddef>
#include <cstdint>

#include "image/image_report.h"
#include "image/image_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stb::MemoryImageSource source(data, size);
  const stb::ImageReport report = stb::InspectImage(source);
  if (report.valid && report.chunks.size() < 2) __builtin_trap();
  uint64_t last = 0;
  for (size_t i = 0; i < report.chunks.size(); ++i) {
    const stb::ImageChunkEntry& c = report.chunks[i];
    // Headers lie inside the data, one after the other: the walk never wraps back.
    if (c.offset + 128 > size || (i > 0 && c.offset <= last)) __builtin_trap();
    last = c.offset;
  }
  return 0;
}
