// The dump of the oldest loaders: a total, then every byte in a stream, then a CRC.
#include <algorithm>
#include <cstring>

#include "context/error_table.h"
#include "image/crc32.h"
#include "link/link.h"
#include "link/port.h"
#include "protocol/bulk_transfer.h"
#include "protocol/legacy.h"
#include "protocol/legacy_common.h"

namespace stb {

namespace {
// Each byte must follow the one before within this time.
constexpr uint32_t kByteTimeoutMs = 500;
constexpr int32_t kProgressStep = 1024;
// Largest piece taken from the line at once; well below the driver's input buffer.
constexpr int32_t kPieceSize = 1024;

// Moves the range [offset, offset + length) of the whole flash in buffer to its start;
// length 0 means up to the end of the flash.
int CutRange(uint8_t* buffer, int32_t& totalOut, uint32_t offset, uint32_t length) {
  const auto total = static_cast<uint32_t>(totalOut);
  if (offset > total || uint64_t{offset} + length > total) return err::kChunkRange;
  const uint32_t count = length != 0 ? length : total - offset;
  std::memmove(buffer, buffer + offset, count);
  totalOut = static_cast<int32_t>(count);
  return err::kSuccess;
}
}  // namespace

int LegacyDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength) {
  if (CurrentProtocolVersion() >= 32)
    return LegacyDumpBlocks(buffer, totalOut, progress, cancel, rangeOffset, rangeLength);
  // The stream dump takes no range: the whole flash comes, and the range is cut out of
  // it, so that a chunk's file holds the chunk and nothing else.
  const int rc = LegacyDumpStream(buffer, totalOut, progress, cancel);
  if (rc != 0 || totalOut <= 0 || (rangeOffset == 0 && rangeLength == 0)) return rc;
  return CutRange(buffer, totalOut, rangeOffset, rangeLength);
}

int LegacyDumpStream(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress,
                     CancelQuery cancel) {
  if (int rc = legacy::StartCommand("dump\r"); rc != 0) return rc;

  uint8_t number[4];
  if (int rc = legacy::ReadWithin(number, 4, 1000); rc != 0) return rc;
  const auto total = static_cast<int32_t>(legacy::ReadBigEndian32(number));
  totalOut = total;
  if (total < 0) return err::kDumpLength;
  if (total > static_cast<int32_t>(kDumpBufferSize)) return kLegacyDumpRefused;

  const uint8_t go = legacy::kAccepted;
  if (PortWrite(&go, 1) != 1) return err::kTargetError;

  // Whatever has already arrived is taken in one piece; only when nothing waits does
  // the dump wait, at most kByteTimeoutMs, for the next single byte. The time limit
  // per byte is thus the same as reading byte by byte, without a read call per byte.
  int32_t i = 0;
  while (i < total) {
    if (legacy::IsCancelled(cancel)) return err::kCancelled;
    int32_t got = PortReadAvailable(buffer + i, std::min(kPieceSize, total - i));
    if (got <= 0) {
      if (int rc = legacy::ReadWithin(buffer + i, 1, kByteTimeoutMs); rc != 0) return rc;
      got = 1;
    }
    for (int32_t j = i; j < i + got; ++j) {
      if (j % kProgressStep == 0 || j + 1 == total)
        legacy::Report(progress, legacy::Percent(int64_t{j} + 1, total));
    }
    i += got;
  }

  // Some loaders send no CRC at all; a dump without one stands as received.
  uint8_t crc[4];
  if (legacy::ReadWithin(crc, 4, 1000) != 0) return err::kSuccess;
  if (legacy::ReadBigEndian32(crc) != Crc32Of(buffer, total)) return err::kReadData;
  return err::kSuccess;
}

}  // namespace stb
