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

// The frame of ExecuteCommand. On a repeat (attempt 1 on), a packet of the exchange
// that takeOnRepeat accepts ends it with success and is left in answer: the box may
// already be at the work the command started, and the work's packets then come
// before (or instead of) the reply to the repeat.
int RunStatusCommand(const char* text, uint32_t timeoutMs, uint8_t* statusOut,
                     RepeatAnswer takeOnRepeat, LoaderPacket& reply, bool& answered) {
  answered = false;
  PortPurge();
  bool failedBefore = false;
  int32_t code = err::kSuccess;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    code = SendCommandPacket(text, attempt != 0);
    if (code == err::kSuccess) code = ReceivePacket(reply, timeoutMs);
    if (code == err::kSuccess && attempt != 0 && takeOnRepeat != nullptr &&
        reply.sequence == PacketSequence() && takeOnRepeat(reply)) {
      LogRecovered();
      answered = true;
      return err::kSuccess;
    }
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

}  // namespace

int ExecuteCommand(const char* text, uint32_t timeoutMs, uint8_t* statusOut) {
  LoaderPacket reply;
  bool answered = false;
  return RunStatusCommand(text, timeoutMs, statusOut, nullptr, reply, answered);
}

int ExecuteCommandOrAnswer(const char* text, uint32_t timeoutMs, RepeatAnswer takeOnRepeat,
                           LoaderPacket& answer, bool& answered) {
  return RunStatusCommand(text, timeoutMs, nullptr, takeOnRepeat, answer, answered);
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

}  // namespace stb
