#include "protocol/bulk_transfer.h"

#include <cstdio>
#include <cstring>

#include "context/error_table.h"
#include "image/compression.h"
#include "link/link.h"
#include "link/port.h"
#include "protocol/command_exchange.h"
#include "protocol/no_progress_watchdog.h"
#include "protocol/packet.h"
#include "protocol/packet_fields.h"

namespace stb {

namespace {

constexpr uint32_t kOpenTimeoutMs = 1000;
constexpr uint32_t kDumpReplyTimeoutMs = 2000;
constexpr uint32_t kDownloadReplyTimeoutMs = 1500;
// The third failure in a series warns, later ones add a dot; the first success after
// more than three sets the count back.
constexpr int kWarnAtFailure = 3;
constexpr int kSameErrorLimit = 5;

bool Cancelled(CancelQuery cancel) {
  return cancel != nullptr && cancel() == 1;
}

void Report(ProgressCallback progress, int percent) {
  if (progress != nullptr) progress(percent);
}

int AbortTransfer() {
  SendStatusPacket(static_cast<uint8_t>(LoaderStatus::Abort), 0);  // the box may be gone
  return err::kCancelled;
}

void CountFailure(int& failures, const char* warning, uint32_t number) {
  ++failures;
  if (failures == kWarnAtFailure) {
    STB_LOG(2, warning, number);
  } else if (failures > kWarnAtFailure) {
    STB_LOG(2, "%s", ".");
  }
}

void CountSuccess(int& failures) {
  if (failures > kWarnAtFailure) {
    failures = 0;
    STB_LOG(2, "%s", "OK");
  }
}

bool OfThisTransfer(const LoaderPacket& packet) {
  return packet.sequence == PacketSequence();
}

// What one dump cycle came to.
enum class DumpStep { Next, Failed, End };

// The code a failed cycle leaves: the receive's own code, or 32 for a packet that
// came but was not the one wanted.
int32_t CycleCode(int received) {
  return received != err::kSuccess ? received : err::kPacketUnrecognised;
}

}  // namespace

// Refused dumps end with 14 ("Error dump len") and write nothing: a total of more
// than the buffer (or negative), a packet 0 too short to hold the total, a data
// packet too short to hold its number, and a data packet that would run past the
// buffer's end. Data beyond the announced total but inside the buffer is kept.
// Failed cycles are repeated, but a box that hands over neither the total nor a data
// packet for 30 s ends the dump with the code of the last failed cycle.
int PacketDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength) {
  char command[256];
  std::snprintf(command, sizeof command, "dump %u %u\r", rangeOffset, rangeLength);
  const int opened = ExecuteCommand(command, kOpenTimeoutMs, nullptr);
  if (opened != err::kSuccess) return opened;

  int32_t expected = static_cast<int32_t>(kDumpBufferSize);
  totalOut = expected;
  int32_t received = 0;
  uint32_t wanted = 0;
  int failures = 0;
  LoaderPacket packet;
  NoProgressWatchdog watchdog;

  while (received < expected) {
    if (Cancelled(cancel)) return AbortTransfer();
    if (failures > 0) PortPurgeOutput();
    if (SendRequestPacket(wanted) != err::kSuccess) return err::kSendPacket;

    int32_t result = err::kSuccess;
    DumpStep step = DumpStep::Failed;
    const int reply = ReceivePacket(packet, kDumpReplyTimeoutMs);
    if (reply != err::kSuccess || !OfThisTransfer(packet)) {
      step = DumpStep::Failed;
    } else if (IsStatusReply(packet)) {
      if (HasStatus(packet, LoaderStatus::Error)) {
        result = ErrorResultOf(StatusValueOf(packet));
        step = DumpStep::End;
      } else if (HasStatus(packet, LoaderStatus::Done)) {
        result = err::kBoxNotDumpAll;
        step = DumpStep::End;
      }
    } else if (IsType(packet, PacketType::Data)) {
      if (packet.length < 4) {
        result = err::kDumpLength;
        step = DumpStep::End;
      } else if (ReadBe32(packet.payload) != wanted) {
        step = DumpStep::Failed;
      } else if (wanted == 0) {
        const auto total = static_cast<int32_t>(ReadBe32(packet.payload + 4));
        if (packet.length < 8 || total < 0 || total > static_cast<int32_t>(kDumpBufferSize)) {
          result = err::kDumpLength;
          step = DumpStep::End;
        } else if (total == 0) {
          totalOut = 0;
          result = err::kGeneric;
          step = DumpStep::End;
        } else {
          expected = total;
          totalOut = total;
          wanted = 1;
          step = DumpStep::Next;
        }
      } else {
        const uint32_t count = packet.length - 4;
        if (count > kDumpBufferSize - static_cast<uint32_t>(received)) {
          result = err::kDumpLength;
          step = DumpStep::End;
        } else {
          std::memcpy(buffer + received, packet.payload + 4, count);
          received += static_cast<int32_t>(count);
          ++wanted;
          CountSuccess(failures);
          Report(progress, static_cast<int>(static_cast<int64_t>(received) * 100 / expected));
          step = DumpStep::Next;
        }
      }
    }

    if (step == DumpStep::End) return result;
    if (step == DumpStep::Next) {
      watchdog.Restart();
    } else {
      CountFailure(failures, "\r\n->Warning:dump packet:%u Error! Retry.", wanted);
      if (watchdog.Expired()) return CycleCode(reply);
    }
  }
  return err::kSuccess;
}

int PacketDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel) {
  // A negative count would read far past the caller's buffer.
  if (size < 0) return err::kGeneric;

  char command[256];
  int32_t compressed = size;
  uint32_t count = static_cast<uint32_t>(size);
  if (PrepareCompressedTransfer(data, size, compressed) == err::kSuccess) {
    // The buffer holds size bytes: a compressed form must fit in it.
    if (compressed < 0 || compressed > size) return err::kCompressData;
    std::snprintf(command, sizeof command, "transfer -z %d %d\r", size, compressed);
    count = static_cast<uint32_t>(compressed);
  } else {
    std::snprintf(command, sizeof command, "transfer %d\r", size);
  }
  const int opened = ExecuteCommand(command, kOpenTimeoutMs, nullptr);
  if (opened != err::kSuccess) return opened;
  if (count == 0) return err::kSuccess;

  uint32_t number = 1;
  uint32_t sent = 0;
  uint32_t packetSize = kMaxDataBytes;
  bool query = false;
  int failures = 0;
  // A box that answers the same packet with the same error again and again (a stream
  // it cannot unpack, 34) will not change its mind: after kSameErrorLimit such answers
  // in a row the download ends with the box's code instead of looping until the user
  // cancels.
  uint32_t errorValue = 0;
  int sameErrors = 0;
  LoaderPacket reply;
  // A box that acknowledges no packet for 30 s (silent, garbled, busy, or holding on
  // to an earlier packet) ends the download with what it last answered.
  NoProgressWatchdog watchdog;

  while (sent < count) {
    const uint32_t sentBefore = sent;
    if (Cancelled(cancel)) return AbortTransfer();
    if (failures > 0) PortPurgeOutput();
    if (sent + kMaxDataBytes > count) packetSize = count - sent;

    // After a failed cycle ask whether the box holds the packet before sending it
    // again: its ack may be what got lost.
    const int sendResult =
        query ? SendRequestPacket(number) : SendDataPacket(number, data + sent, packetSize);
    if (sendResult != err::kSuccess) return err::kSendPacket;

    bool failed = true;
    const int received = ReceivePacket(reply, kDownloadReplyTimeoutMs);
    int32_t code = CycleCode(received);
    if (received == err::kSuccess && IsStatusReply(reply) && OfThisTransfer(reply)) {
      if (HasStatus(reply, LoaderStatus::Ack)) {
        query = false;
        failed = false;
        // An ack of another number advances nothing: the data go again next cycle.
        if (StatusValueOf(reply) == number) {
          sent += packetSize;
          ++number;
          watchdog.Restart();
          Report(progress, static_cast<int>(static_cast<uint64_t>(sent) * 100 / count));
        }
        CountSuccess(failures);
      } else if (HasStatus(reply, LoaderStatus::Done)) {
        Report(progress, 100);
        return err::kSuccess;
      } else if (HasStatus(reply, LoaderStatus::Error)) {
        const uint32_t value = StatusValueOf(reply);
        if (IsBoxFatal(value)) return static_cast<int32_t>(value);
        code = ErrorResultOf(value);
        sameErrors = value == errorValue ? sameErrors + 1 : 1;
        errorValue = value;
        if (sameErrors >= kSameErrorLimit) return code;
      }
    }
    if (!failed) sameErrors = 0;
    if (failed) {
      query = true;
      CountFailure(failures, "\r\n->Warning:download packet:%u Error! Retry.", number);
    }
    // An ack of another number is no failure, but no progress either: 32 then.
    if (sent == sentBefore && watchdog.Expired()) return code;
  }
  return err::kSuccess;
}

}  // namespace stb
