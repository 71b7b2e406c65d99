// The block dump of loaders 32 to 47: the tool asks for each block with 'H', the box
// answers with an indexed block, the tool takes or rejects it.
#include <bitset>
#include <cstdio>
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

constexpr uint32_t kMaxBlocks = kDumpBufferSize / kLegacyBlockSize;
constexpr char kBlankMarker[] = "BLANKPCK";
constexpr int32_t kBlankMarkerLength = 8;
// A block of erased flash comes as the marker and its CRC instead of L bytes of 0xFF.
constexpr int32_t kLeadInLength = kBlankMarkerLength + 4;

enum class Body { Taken, Rejected, Refused };

// CRC of a number as the box computes it for the header: over its little-endian bytes,
// although the number itself travels big-endian.
uint32_t HeaderCrc(uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return Crc32Of(bytes, 4);
}

// Reads the body of a block of `length` bytes into block (room for kLegacyBlockSize).
Body ReceiveBody(uint8_t* block, int32_t length) {
  if (legacy::ReadWithin(block, kLeadInLength, 1000) != 0) return Body::Rejected;
  if (std::memcmp(block, kBlankMarker, kBlankMarkerLength) == 0) {
    const uint32_t expected = Crc32Of(reinterpret_cast<const uint8_t*>(kBlankMarker), 8);
    if (legacy::ReadBigEndian32(block + kBlankMarkerLength) != expected) return Body::Rejected;
    std::memset(block, 0xFF, static_cast<size_t>(length));
    return Body::Taken;
  }
  // Data always covers the lead-in already read; a shorter block cannot be told apart
  // from its CRC and whatever follows.
  if (length < kLeadInLength) return Body::Refused;
  uint8_t crc[4];
  if (legacy::ReadWithin(block + kLeadInLength, length - kLeadInLength, 2000) != 0)
    return Body::Rejected;
  if (legacy::ReadWithin(crc, 4, 1000) != 0) return Body::Rejected;
  if (legacy::ReadBigEndian32(crc) != Crc32Of(block, length)) return Body::Rejected;
  return Body::Taken;
}

int SendBlockAnswer(uint8_t letter, uint32_t index) {
  uint8_t answer[9];
  answer[0] = letter;
  legacy::WriteBigEndian32(index, answer + 1);
  legacy::WriteBigEndian32(Crc32Of(answer, 5), answer + 5);
  return PortWrite(answer, 9) == 9 ? err::kSuccess : err::kSendData;
}

int SendRequest(uint8_t letter) {
  return SendByte(letter) == 1 ? err::kSuccess : err::kSendData;
}

}  // namespace

int LegacyDumpBlocks(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress,
                     CancelQuery cancel, uint32_t rangeOffset, uint32_t rangeLength) {
  char text[48];
  std::snprintf(text, sizeof text, "dump %u %u\r", rangeOffset, rangeLength);
  if (int rc = legacy::StartCommand(text); rc != 0) return rc;

  const bool headerCrcs = CurrentProtocolVersion() >= 33;
  auto total = static_cast<int32_t>(rangeLength);
  if (rangeLength == 0 || !headerCrcs) {
    uint8_t number[4];
    if (int rc = legacy::ReadWithin(number, 4, 1000); rc != 0) return rc;
    total = static_cast<int32_t>(legacy::ReadBigEndian32(number));
  }
  totalOut = total;
  if (total < 0) return err::kDumpLength;
  if (total == 0) return err::kSuccess;
  if (total > static_cast<int32_t>(kDumpBufferSize)) return kLegacyDumpRefused;

  // A block the box sends again after it was taken (its 'O' lost on the line) is
  // counted once, so a repeat cannot end the dump with another block missing.
  std::bitset<kMaxBlocks> taken;
  int32_t received = 0;
  while (received < total) {
    if (legacy::IsCancelled(cancel)) return err::kCancelled;

    uint8_t block[kLegacyBlockSize] = {};
    if (int rc = SendRequest(legacy::kBlockRequest); rc != 0) return rc;

    uint8_t header[8];
    if (int rc = legacy::ReadWithin(header, 4, 1000); rc != 0) return rc;
    if (int rc = legacy::ReadWithin(header + 4, 4, 1000); rc != 0) return rc;
    const uint32_t index = legacy::ReadBigEndian32(header);
    const uint32_t length = legacy::ReadBigEndian32(header + 4);

    if (headerCrcs) {
      uint8_t crcs[8];
      if (int rc = legacy::ReadWithin(crcs, 4, 1000); rc != 0) return rc;
      if (int rc = legacy::ReadWithin(crcs + 4, 4, 2000); rc != 0) return rc;
      if (legacy::ReadBigEndian32(crcs) != HeaderCrc(index) ||
          legacy::ReadBigEndian32(crcs + 4) != HeaderCrc(length)) {
        // Refuse the header; the next cycle asks for the block afresh.
        if (int rc = SendRequest(legacy::kBlockRequest); rc != 0) return rc;
        continue;
      }
      if (int rc = SendRequest(legacy::kHeaderGood); rc != 0) return rc;
    }

    if (length > static_cast<uint32_t>(kLegacyBlockSize) || index >= kMaxBlocks)
      return kLegacyDumpRefused;
    const auto blockLength = static_cast<int32_t>(length);

    const Body body = ReceiveBody(block, blockLength);
    if (body == Body::Refused) return kLegacyDumpRefused;
    uint8_t letter = legacy::kRejected;
    if (body == Body::Taken) {
      std::memcpy(buffer + size_t{index} * kLegacyBlockSize, block, length);
      if (!taken[index]) {
        taken[index] = true;
        received += blockLength;
      }
      legacy::Report(progress, legacy::Percent(received, total));
      letter = legacy::kAccepted;
    }
    if (int rc = SendBlockAnswer(letter, index); rc != 0) return rc;
  }
  return err::kSuccess;
}

}  // namespace stb
