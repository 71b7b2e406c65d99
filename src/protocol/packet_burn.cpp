// Burn: the box reports progress in packets of the burn command's exchange until it
// has finished or failed.
#include "context/error_table.h"
#include "protocol/command_exchange.h"
#include "protocol/no_progress_watchdog.h"
#include "protocol/packet.h"
#include "protocol/packet_fields.h"

namespace stb {

namespace {

constexpr uint32_t kBurnCommandTimeoutMs = 2000;
constexpr uint32_t kBurnWaitTimeoutMs = 10000;
// The burn gives up after this many silent waits since the box last showed it burns.
constexpr int kMaxSilentWaits = 5;

// Counts the 1024-byte units the box has burnt: bytes 5 to 8 of a 'B' packet, read
// as a decimal number with optional leading blanks and sign, and only as far as the
// packet reaches (behind it lie the CRC bytes).
int32_t BurntUnits(const LoaderPacket& packet) {
  const uint32_t end = packet.length < 9 ? packet.length : 9;
  uint32_t i = 5;
  while (i < end &&
         (packet.payload[i] == ' ' || (packet.payload[i] >= '\t' && packet.payload[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < end && (packet.payload[i] == '+' || packet.payload[i] == '-')) {
    negative = packet.payload[i] == '-';
    ++i;
  }
  int32_t number = 0;
  for (; i < end && packet.payload[i] >= '0' && packet.payload[i] <= '9'; ++i)
    number = number * 10 + (packet.payload[i] - '0');
  return negative ? -number : number;
}

// Percent of the burn; an upgrade that downloaded nothing has no measure, so it
// reports 0 rather than dividing by zero.
int BurnPercent(int32_t units, int32_t totalBytes) {
  if (totalBytes <= 0) return 0;
  const int32_t percent = units * 102400 / totalBytes;  // |units| <= 9999: no overflow
  return percent < 0 ? 0 : percent > 100 ? 100 : percent;
}

void Report(ProgressCallback progress, int percent) {
  if (progress != nullptr) progress(percent);
}

// The marker letter of a data packet of the burn, 0 for any other packet.
uint8_t MarkerOf(const LoaderPacket& packet) {
  return IsType(packet, PacketType::Data) && packet.length >= 5 ? packet.payload[4] : 0;
}

// What speaks of the burn itself: its progress, its end and its failure. A repeated
// "burn" may read these before the reply to the repeat.
bool IsBurnAnswer(const LoaderPacket& packet) {
  if (IsStatusReply(packet))
    return HasStatus(packet, LoaderStatus::Done) || HasStatus(packet, LoaderStatus::Error);
  const uint8_t marker = MarkerOf(packet);
  return marker == 'B' || marker == 'F' || marker == 'E';
}

enum class BurnStep { Alive, End, Unknown };

// Handles one packet of the burn's exchange; on End, result is the burn's result.
BurnStep TakeBurnPacket(const LoaderPacket& packet, int32_t totalBytes, ProgressCallback progress,
                        int& result) {
  if (IsStatusReply(packet)) {
    if (HasStatus(packet, LoaderStatus::Done)) {
      Report(progress, 100);
      result = err::kSuccess;
      return BurnStep::End;
    }
    if (HasStatus(packet, LoaderStatus::Error)) {
      result = ErrorResultOf(StatusValueOf(packet));
      return BurnStep::End;
    }
    return HasStatus(packet, LoaderStatus::Working) ? BurnStep::Alive : BurnStep::Unknown;
  }
  switch (MarkerOf(packet)) {
    case 'B':
      Report(progress, BurnPercent(BurntUnits(packet), totalBytes));
      return BurnStep::Alive;
    case 'F':
      Report(progress, 100);
      result = err::kSuccess;
      return BurnStep::End;
    case 'E':
      result = err::kBurnFailed;
      return BurnStep::End;
    default:
      return BurnStep::Unknown;
  }
}

}  // namespace

// Once the box burns there is no cancel, and the reboot follows whatever the burn
// ends with, so the wait must neither end while the box still burns nor go on
// forever. Only silence counts against the box: the fifth silent wait (10 s each)
// since it last showed that it burns (Working, a 'B' report) ends the burn with 12.
// Garbled packets, packets of other exchanges and packets that say nothing of the
// burn are passed over, but 30 s of nothing else (no sign of the burn, no silent
// wait) end it with the code of the last one (a framing code, or 32).
int PacketBurn(int32_t totalBytes, ProgressCallback progress) {
  LoaderPacket packet;
  bool answered = false;
  const int code =
      ExecuteCommandOrAnswer("burn\r", kBurnCommandTimeoutMs, &IsBurnAnswer, packet, answered);
  if (code != err::kSuccess) return code;

  NoProgressWatchdog watchdog;
  int silentWaits = 0;
  bool pending = answered;  // the repeated command's answer comes first
  for (;;) {
    int received = pending ? err::kSuccess : ReceivePacket(packet, kBurnWaitTimeoutMs);
    pending = false;
    if (received == err::kNoPacket) {
      if (++silentWaits >= kMaxSilentWaits) return err::kOverrunRetry;
      watchdog.Restart();  // silence has its own count
      continue;
    }
    if (received == err::kSuccess) {
      int result = err::kSuccess;
      const BurnStep step = packet.sequence == PacketSequence()
                                ? TakeBurnPacket(packet, totalBytes, progress, result)
                                : BurnStep::Unknown;
      if (step == BurnStep::End) return result;
      if (step == BurnStep::Alive) {
        silentWaits = 0;
        watchdog.Restart();
        continue;
      }
      received = err::kPacketUnrecognised;
    }
    if (watchdog.Expired()) return received;
  }
}

}  // namespace stb
