#include "image/image_walk.h"

#include <vector>

#include "image/crc32.h"

namespace stb {

namespace {
// Any block size gives the same verdict; 64 KiB keeps the reads few.
constexpr size_t kCrcBlock = 64 * 1024;
}  // namespace

const char* ImageFaultText(ImageFault fault) {
  switch (fault) {
    case ImageFault::kNone:
      return "valid";
    case ImageFault::kCannotOpen:
      return "cannot open the file";
    case ImageFault::kReadError:
      return "read error";
    case ImageFault::kHeaderPastEnd:
      return "chunk header runs past the end of the file";
    case ImageFault::kIdNotComplement:
      return "id bytes 0 and 1 do not add up to 255";
    case ImageFault::kNextOffsetTooLarge:
      return "nextOffset above 0x200000";
    case ImageFault::kLengthPastNext:
      return "length runs into the next chunk";
    case ImageFault::kDataPastEnd:
      return "chunk data run past the end of the file";
    case ImageFault::kCrcMismatch:
      return "CRC mismatch";
    case ImageFault::kSingleChunk:
      return "an image needs at least two chunks";
  }
  return "unknown";
}

uint64_t OccupiedSize(uint32_t id, uint32_t length, uint32_t nextOffset) {
  if (id == kUserDatabaseId || nextOffset == 0) return uint64_t{length} + 16;
  return nextOffset;
}

bool CrcOfRange(ImageSource& source, uint64_t offset, uint64_t count, uint32_t& crc) {
  std::vector<uint8_t> block(count < kCrcBlock ? static_cast<size_t>(count) : kCrcBlock);
  uint32_t value = kCrc32Start;
  while (count > 0) {
    const size_t want = count < block.size() ? static_cast<size_t>(count) : block.size();
    if (source.ReadAt(offset, block.data(), want) != static_cast<int64_t>(want)) return false;
    value = Crc32Update(value, block.data(), static_cast<int32_t>(want));
    offset += want;
    count -= want;
  }
  crc = value;
  return true;
}

WalkResult WalkImageChain(ImageSource& source,
                          const std::function<void(const WalkedChunk&)>& onChunk) {
  Crc32BuildTable();
  WalkResult result;
  const uint64_t fileSize = source.Size();
  uint64_t pos = 0;
  for (uint64_t k = 0;; ++k) {
    auto fail = [&](ImageFault fault) {
      result.fault = fault;
      result.faultIndex = static_cast<uint32_t>(k);
      result.faultOffset = pos;
      return result;
    };
    if (pos + kChunkHeaderSize > fileSize) return fail(ImageFault::kHeaderPastEnd);
    uint8_t raw[kChunkHeaderSize];
    const int64_t got = source.ReadAt(pos, raw, sizeof raw);
    if (got < 0) return fail(ImageFault::kReadError);
    if (got != kChunkHeaderSize) return fail(ImageFault::kHeaderPastEnd);
    const ChunkHeader h = DecodeChunkHeader(raw);
    result.faultHeader = h;
    result.faultHeaderRead = true;

    if (k > 0 && raw[0] + raw[1] != 255) return fail(ImageFault::kIdNotComplement);
    if (h.nextOffset > kMaxNextOffset) return fail(ImageFault::kNextOffsetTooLarge);
    // Unsigned on purpose: a nextOffset of 1 to 15 wraps to a huge room and passes.
    if (h.nextOffset != 0 && h.length > h.nextOffset - 16u) {
      return fail(ImageFault::kLengthPastNext);
    }
    CrcStatus status = CrcStatus::kNone;
    if (h.crc != NoCrcMarker) {
      if (pos + 16 + h.length > fileSize) return fail(ImageFault::kDataPastEnd);
      uint32_t crc = 0;
      if (!CrcOfRange(source, pos + 16, h.length, crc)) return fail(ImageFault::kReadError);
      if (crc != h.crc) return fail(ImageFault::kCrcMismatch);
      status = CrcStatus::kOk;
    }
    result.faultHeaderRead = false;
    ++result.chunks;
    if (onChunk) {
      onChunk(WalkedChunk{static_cast<uint32_t>(k), pos, h, status,
                          OccupiedSize(h.id, h.length, h.nextOffset)});
    }
    if (h.nextOffset == 0) return result;
    pos += h.nextOffset;
  }
}

}  // namespace stb
