// The block dump of loaders 32 to 47: the tool asks for each block with 'H', the box
// answers with an indexed block, the tool takes or rejects it. The dump ends only when
// every 1024-byte block of the total has been taken.
#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>

#include "context/error_table.h"
#include "image/crc32.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/port.h"
#include "protocol/bulk_transfer.h"
#include "protocol/legacy.h"
#include "protocol/legacy_common.h"

namespace stb {

namespace {

constexpr uint32_t kMaxBlocks = kDumpBufferSize / kLegacyBlockSize;
constexpr auto kBlockSize = static_cast<uint32_t>(kLegacyBlockSize);
constexpr char kBlankMarker[] = "BLANKPCK";
constexpr int32_t kBlankMarkerLength = 8;
// A block of erased flash comes as the marker and its CRC instead of L bytes of 0xFF.
constexpr int32_t kLeadInLength = kBlankMarkerLength + 4;
// A failed block is asked for again, but not forever: a dump that takes no new block
// for this long ends with the code of its last failure.
constexpr uint32_t kStallLimitMs = 30000;
// What is left of a failed block is dropped from the line until it has been quiet this
// long (the box sends a block in one go), at most kDrainLimitMs.
constexpr uint32_t kQuietMs = 200;
constexpr uint32_t kDrainLimitMs = 3000;

// CRC of a number as the box computes it for the header: over its little-endian bytes,
// although the number itself travels big-endian.
uint32_t HeaderCrc(uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return Crc32Of(bytes, 4);
}

// The blocks [0, total) of one dump and which of them the caller's buffer holds.
class BlockMap {
 public:
  BlockMap(uint8_t* buffer, uint32_t total)
      : buffer_(buffer), total_(total), count_((total + kBlockSize - 1) / kBlockSize) {}

  bool Complete() const { return taken_ == count_; }
  uint32_t Received() const { return received_; }
  // Bytes of the total that block `index` carries; 0 for an index outside the total.
  uint32_t Share(uint32_t index) const {
    if (index >= count_) return 0;
    return std::min(kBlockSize, total_ - index * kBlockSize);
  }
  enum class Taken { New, Again, Conflict };
  // Takes a block that arrived whole (index inside the total). A block held already
  // is taken again only when it is the same (the box missed the 'O'): two different
  // copies of one index mean one of them came under a wrong index, so neither is
  // trusted and the block is missing again.
  Taken Take(uint32_t index, const uint8_t* block) {
    const uint32_t share = Share(index);
    uint8_t* place = buffer_ + size_t{index} * kBlockSize;
    if (!held_[index]) {
      std::memcpy(place, block, share);
      held_[index] = true;
      ++taken_;
      received_ += share;
      return Taken::New;
    }
    if (std::memcmp(place, block, share) == 0) return Taken::Again;
    held_[index] = false;
    --taken_;
    received_ -= share;
    return Taken::Conflict;
  }

 private:
  uint8_t* buffer_;
  uint32_t total_;
  uint32_t count_;
  uint32_t taken_ = 0;
  uint32_t received_ = 0;
  std::bitset<kMaxBlocks> held_;
};

// Reads the body of a block into block (room for kLegacyBlockSize): 0 when it arrived
// whole and sound, else the code of what went wrong. A header the block cannot belong
// to (a length above 1024 or short of the block's part of the total, an index outside
// the total) is refused before its body is read.
int ReceiveBody(uint8_t* block, uint32_t length, uint32_t share) {
  if (share == 0 || length > kBlockSize || length < share) return err::kDumpLength;
  if (int rc = legacy::ReadWithin(block, kLeadInLength, 1000); rc != 0) return rc;
  if (std::memcmp(block, kBlankMarker, kBlankMarkerLength) == 0) {
    const uint32_t expected = Crc32Of(reinterpret_cast<const uint8_t*>(kBlankMarker), 8);
    if (legacy::ReadBigEndian32(block + kBlankMarkerLength) != expected) return err::kReadData;
    std::memset(block, 0xFF, length);
    return err::kSuccess;
  }
  // Data always covers the lead-in already read; a shorter block cannot be told apart
  // from its CRC and whatever follows.
  if (length < static_cast<uint32_t>(kLeadInLength)) return err::kDumpLength;
  const auto rest = static_cast<int32_t>(length) - kLeadInLength;
  if (int rc = legacy::ReadWithin(block + kLeadInLength, rest, 2000); rc != 0) return rc;
  uint8_t crc[4];
  if (int rc = legacy::ReadWithin(crc, 4, 1000); rc != 0) return rc;
  if (legacy::ReadBigEndian32(crc) != Crc32Of(block, static_cast<int32_t>(length)))
    return err::kReadData;
  return err::kSuccess;
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

  BlockMap blocks(buffer, static_cast<uint32_t>(total));
  uint32_t lastNewBlockMs = TickMs();
  int lastFailure = err::kReadTimeout;
  while (!blocks.Complete()) {
    if (legacy::IsCancelled(cancel)) return err::kCancelled;
    if (TickMs() - lastNewBlockMs >= kStallLimitMs) return lastFailure;

    uint8_t block[kLegacyBlockSize];
    if (int rc = SendRequest(legacy::kBlockRequest); rc != 0) return rc;

    // A box that does not answer a request has ended the dump or is gone.
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
        lastFailure = err::kCrc;
        continue;
      }
      if (int rc = SendRequest(legacy::kHeaderGood); rc != 0) return rc;
    }

    uint8_t letter = legacy::kRejected;
    if (int rc = ReceiveBody(block, length, blocks.Share(index)); rc != 0) {
      // Without header CRCs a garbled length leaves the line out of step: drop what is
      // left of the block, so that the box's next block starts afresh.
      legacy::DrainLine(kQuietMs, kDrainLimitMs);
      lastFailure = rc;
    } else {
      const BlockMap::Taken taken = blocks.Take(index, block);
      if (taken == BlockMap::Taken::Conflict) {
        lastFailure = err::kReadData;
      } else {
        letter = legacy::kAccepted;
        if (taken == BlockMap::Taken::New) lastNewBlockMs = TickMs();
        legacy::Report(progress, legacy::Percent(blocks.Received(), total));
      }
    }
    if (int rc = SendBlockAnswer(letter, index); rc != 0) return rc;
  }
  return err::kSuccess;
}

}  // namespace stb
