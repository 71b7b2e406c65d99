// A chunk-by-chunk account of an image file, for `stb-upgrade-cli inspect`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_walk.h"

namespace stb {

struct ImageChunkEntry {
  uint64_t offset;
  uint32_t id;
  std::string name;  // each text up to its NUL, at most its 16 bytes
  std::string version;
  std::string info;
  uint32_t length;
  uint32_t nextOffset;
  uint32_t crc;
  CrcStatus crcStatus;
  uint64_t size;  // occupied size
};

struct ImageReport {
  bool readable = false;                 // false: the file could not be opened or read
  bool valid = false;                    // what ValidateImage says
  ImageFault fault = ImageFault::kNone;  // the first rule that failed
  int openError = 0;                     // errno or err::kNotRegularFile: not opened
  uint32_t faultIndex = 0;
  uint64_t faultOffset = 0;
  // Every chunk that passed, then the chunk that failed when its header was read
  // (with the CRC status its bytes give, "bad" when they lie outside the file).
  std::vector<ImageChunkEntry> chunks;
};

ImageReport InspectImage(ImageSource& source);
ImageReport InspectImage(const std::string& path);

}  // namespace stb
