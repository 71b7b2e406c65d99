#include "image/image_report.h"

#include <cstring>

namespace stb {

namespace {

std::string FieldText(const char* field) {
  const void* nul = std::memchr(field, 0, 16);
  const size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field) : 16;
  return std::string(field, n);
}

ImageChunkEntry EntryOf(uint64_t offset, const ChunkHeader& h, CrcStatus status) {
  return ImageChunkEntry{offset,
                         h.id,
                         FieldText(h.name),
                         FieldText(h.version),
                         FieldText(h.info),
                         h.length,
                         h.nextOffset,
                         h.crc,
                         status,
                         OccupiedSize(h.id, h.length, h.nextOffset)};
}

// The failing chunk's own CRC verdict, whatever rule stopped the walk at it.
CrcStatus StatusOfFailed(ImageSource& source, uint64_t offset, const ChunkHeader& h) {
  if (h.crc == NoCrcMarker) return CrcStatus::kNone;
  if (offset + 16 + h.length > source.Size()) return CrcStatus::kBad;
  uint32_t crc = 0;
  if (!CrcOfRange(source, offset + 16, h.length, crc)) return CrcStatus::kBad;
  return crc == h.crc ? CrcStatus::kOk : CrcStatus::kBad;
}

}  // namespace

ImageReport InspectImage(ImageSource& source) {
  ImageReport report;
  const WalkResult walk = WalkImageChain(source, [&](const WalkedChunk& c) {
    report.chunks.push_back(EntryOf(c.offset, c.header, c.crc));
  });
  if (walk.faultHeaderRead) {
    const CrcStatus status = StatusOfFailed(source, walk.faultOffset, walk.faultHeader);
    report.chunks.push_back(EntryOf(walk.faultOffset, walk.faultHeader, status));
  }
  report.readable = walk.fault != ImageFault::kReadError;
  report.fault = walk.fault;
  report.faultIndex = walk.faultIndex;
  report.faultOffset = walk.faultOffset;
  if (walk.fault == ImageFault::kNone && walk.chunks < 2) {
    report.fault = ImageFault::kSingleChunk;
    report.faultIndex = 0;
    report.faultOffset = 0;
  }
  report.valid = report.fault == ImageFault::kNone;
  return report;
}

ImageReport InspectImage(const std::string& path) {
  FileImageSource source;
  if (const int e = source.Open(path); e != 0) {
    ImageReport report;
    report.fault = ImageFault::kCannotOpen;
    report.openError = e;
    return report;
  }
  return InspectImage(source);
}

}  // namespace stb
