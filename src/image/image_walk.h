// The walk along an image's chain of chunks that validation, chunk lookup and
// inspection share: the same reads and the same rules, in the same order.
#pragma once

#include <cstdint>
#include <functional>

#include "image/chunk_header.h"
#include "image/image_source.h"

namespace stb {

// Why a walk stopped short; kNone when it reached the chunk with nextOffset 0.
enum class ImageFault {
  kNone,
  kCannotOpen,          // the file cannot be opened (or is no regular file)
  kReadError,           // a read failed inside the file
  kHeaderPastEnd,       // the chain leads to a header without 128 bytes left
  kIdNotComplement,     // from the second chunk on, id bytes 0 and 1 must add up to 255
  kNextOffsetTooLarge,  // nextOffset above 0x200000
  kLengthPastNext,      // length above nextOffset - 16
  kDataPastEnd,         // the CRC'd bytes run past the end of the file
  kCrcMismatch,
  kSingleChunk,  // an image needs two chunks (checked by the caller, not the walk)
};

// A short English description of the fault, for the command line and logs.
const char* ImageFaultText(ImageFault fault);

inline constexpr uint32_t kMaxNextOffset = 0x200000u;

enum class CrcStatus { kOk, kBad, kNone };  // kNone: the chunk carries NoCrcMarker

struct WalkedChunk {
  uint32_t index;
  uint64_t offset;  // of the header in the file
  ChunkHeader header;
  CrcStatus crc;
  uint64_t occupied;  // bytes the chunk takes in the file (OccupiedSize)
};

struct WalkResult {
  ImageFault fault = ImageFault::kNone;
  uint32_t faultIndex = 0;       // chunk at which the walk stopped
  uint64_t faultOffset = 0;      // its header position
  bool faultHeaderRead = false;  // faultHeader holds the failing chunk's header
  ChunkHeader faultHeader{};
  uint32_t chunks = 0;  // chunks that passed their checks
};

// 16 + length for the user database and for the last chunk, else nextOffset.
uint64_t OccupiedSize(uint32_t id, uint32_t length, uint32_t nextOffset);

// Walks the chain from offset 0 and calls onChunk for each chunk that passes its
// checks. Positions are 64-bit and nextOffset is at most 2 MiB, so the walk only
// moves forward and ends at the end of the file.
WalkResult WalkImageChain(ImageSource& source,
                          const std::function<void(const WalkedChunk&)>& onChunk);

// The CRC-32 of count bytes from offset, read in blocks; false on a short read.
bool CrcOfRange(ImageSource& source, uint64_t offset, uint64_t count, uint32_t& crc);

}  // namespace stb
