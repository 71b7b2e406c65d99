#include "protocol/command_exchange.h"

#include <cstdio>
#include <cstring>

#include "context/error_table.h"
#include "link/link.h"
#include "link/port.h"
#include "protocol/packet.h"
#include "protocol/packet_fields.h"

namespace stb {

namespace {

constexpr int kAttempts = 5;
constexpr uint32_t kBurnCommandTimeoutMs = 2000;
constexpr uint32_t kBurnWaitTimeoutMs = 10000;
// The burn wait gives up after this many waits in a row that brought nothing of the
// burn (see PacketBurn).
constexpr int kMaxFailedBurnWaits = 5;

// The line of a failed attempt: the reason on the first attempt, a dot on the rest.
void LogFailedAttempt(int attempt, int32_t code, const char* text) {
  if (attempt != 0 || code == 0) {
    STB_LOG(0, "%s", ".");
    return;
  }
  char reason[256] = {};
  if (LookupErrorText(code, reason) == 0) {
    // A code the box invented: show its number rather than an empty reason.
    std::snprintf(reason, sizeof reason, "Unknown error %d\r\n", code);
  }
  STB_LOG(0, "\r\n->Error:%s in execute command:%s Retry.", reason, text);
}

void LogRecovered() {
  STB_LOG(0, "%s", "OK");
}

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

}  // namespace

int ExecuteCommand(const char* text, uint32_t timeoutMs, uint8_t* statusOut) {
  PortPurge();
  LoaderPacket reply;
  bool failedBefore = false;
  int32_t code = err::kSuccess;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    code = SendCommandPacket(text, attempt != 0);
    if (code == err::kSuccess) code = ReceivePacket(reply, timeoutMs);
    if (code == err::kSuccess) {
      if (!IsType(reply, PacketType::Status) || reply.sequence != PacketSequence() ||
          reply.length != 5) {
        code = err::kPacketUnrecognised;
      } else {
        if (statusOut != nullptr) *statusOut = StatusOf(reply);
        if (HasStatus(reply, LoaderStatus::Ack) || HasStatus(reply, LoaderStatus::Working) ||
            HasStatus(reply, LoaderStatus::Done)) {
          if (failedBefore) LogRecovered();
          return err::kSuccess;
        }
        const uint32_t value = StatusValueOf(reply);
        if (IsBoxFatal(value)) return static_cast<int32_t>(value);
        code = ErrorResultOf(value);
      }
    }
    LogFailedAttempt(attempt, code, text);
    failedBefore = true;
  }
  return code;
}

int ExecuteDataCommand(const char* text, uint32_t timeoutMs, uint8_t* statusOut,
                       uint32_t& lengthOut, uint8_t* buffer) {
  PortPurge();
  LoaderPacket reply;
  bool repeat = false;
  int32_t lastCode = err::kSuccess;  // 0 = the last attempt failed without a code
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    int32_t code = SendCommandPacket(text, repeat);
    repeat = true;
    if (code == err::kSuccess) code = ReceivePacket(reply, timeoutMs);
    lastCode = code;
    if (code != err::kSuccess) {
      LogFailedAttempt(attempt, code, text);
      continue;
    }
    if (reply.sequence != PacketSequence()) {
      LogFailedAttempt(attempt, 0, text);
      continue;
    }
    if (IsType(reply, PacketType::Data)) {
      lengthOut = reply.length;
      std::memcpy(buffer, reply.payload, reply.length);  // at most 2044 bytes
      if (attempt != 0) LogRecovered();
      return err::kSuccess;
    }
    if (IsStatusReply(reply)) {
      if (statusOut != nullptr) *statusOut = StatusOf(reply);
      if (HasStatus(reply, LoaderStatus::Done)) {
        // The box finished an earlier command: ask again in a new exchange.
        repeat = false;
        continue;
      }
      if (HasStatus(reply, LoaderStatus::Error)) {
        const uint32_t value = StatusValueOf(reply);
        if (IsBoxFatal(value)) return static_cast<int32_t>(value);
        lastCode = static_cast<int32_t>(value);
      }
    }
    LogFailedAttempt(attempt, lastCode, text);
  }
  return lastCode != err::kSuccess ? lastCode : err::kPacketUnrecognised;
}

int PacketReadVersion(uint32_t& version) {
  uint8_t buffer[kPayloadCapacity] = {};
  uint32_t length = 0;
  const int code = ExecuteDataCommand("version\r", 1000, nullptr, length, buffer);
  if (code != err::kSuccess) return code;
  version = ReadBe32(buffer + 4);  // a shorter reply leaves zero bytes here
  return err::kSuccess;
}

int PacketReadChunkTable(TargetChunkTable& table) {
  uint8_t buffer[kPayloadCapacity] = {};
  uint32_t length = 0;
  const int code = ExecuteDataCommand("chunk\r", 5000, nullptr, length, buffer);
  if (code != err::kSuccess) return code;
  // Without its packet number the reply holds no table at all; length - 4 would wrap.
  if (length < 4) return err::kPacketUnrecognised;
  return DecodeChunkTable(buffer + 4, length - 4, table);
}

int PacketSetAddress(uint32_t address) {
  char text[256];
  std::snprintf(text, sizeof text, "address %u\r", address);
  return ExecuteCommand(text, 1000, nullptr);
}

int PacketMove(uint32_t first, uint32_t second) {
  char text[256];
  std::snprintf(text, sizeof text, "move %u %u\r", first, second);
  return ExecuteCommand(text, 10000, nullptr);
}

int PacketReboot() {
  return ExecuteCommand("reboot\r", 1000, nullptr);
}

// Once the box burns there is no cancel. The wait is bounded by a count of failed
// waits: a wait fails when it brings no packet of the burn (silence, a framing
// error, another sequence) or one that says nothing about it (a status other than
// Working, Done or Error, a data packet without a known marker). A Working status or
// a 'B' progress report shows the box is alive and sets the count back; the fifth
// failed wait in a row ends the burn with 12, after at most 5 x 10 s of silence.
int PacketBurn(int32_t totalBytes, ProgressCallback progress) {
  const int code = ExecuteCommand("burn\r", kBurnCommandTimeoutMs, nullptr);
  if (code != err::kSuccess) return code;

  LoaderPacket packet;
  int failedWaits = 0;
  while (failedWaits < kMaxFailedBurnWaits) {
    if (ReceivePacket(packet, kBurnWaitTimeoutMs) != err::kSuccess ||
        packet.sequence != PacketSequence()) {
      ++failedWaits;
      continue;
    }
    if (IsStatusReply(packet)) {
      if (HasStatus(packet, LoaderStatus::Done)) {
        Report(progress, 100);
        return err::kSuccess;
      }
      if (HasStatus(packet, LoaderStatus::Error)) return ErrorResultOf(StatusValueOf(packet));
      if (HasStatus(packet, LoaderStatus::Working)) {
        failedWaits = 0;
        continue;
      }
    } else if (IsType(packet, PacketType::Data) && packet.length >= 5) {
      switch (packet.payload[4]) {
        case 'B':
          Report(progress, BurnPercent(BurntUnits(packet), totalBytes));
          failedWaits = 0;
          continue;
        case 'F':
          Report(progress, 100);
          return err::kSuccess;
        case 'E':
          return err::kBurnFailed;
        default:
          break;
      }
    }
    ++failedWaits;
  }
  return err::kOverrunRetry;
}

}  // namespace stb
