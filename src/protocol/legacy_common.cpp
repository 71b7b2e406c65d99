#include "protocol/legacy_common.h"

#include <algorithm>
#include <cstring>

#include "context/error_table.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/port.h"

namespace stb::legacy {

int TypeCommand(const char* text) {
  PortPurge();
  const auto length = static_cast<int32_t>(std::strlen(text));
  if (SendEcho(reinterpret_cast<const uint8_t*>(text), length, kEchoTimeoutMs) != 0)
    return err::kSendCommand;
  return err::kSuccess;
}

int StartCommand(const char* text) {
  // The loader needs a moment after its previous answer before it takes a new line.
  SleepMs(100);
  return TypeCommand(text);
}

int ReadWithin(uint8_t* buffer, int32_t n, uint32_t timeoutMs) {
  return PortRead(buffer, n, timeoutMs) == 0 ? err::kSuccess : err::kReadTimeout;
}

int ReadLetter(uint8_t& letter, uint32_t timeoutMs) {
  return ReadWithin(&letter, 1, timeoutMs);
}

int ReadAcceptance(uint32_t timeoutMs) {
  uint8_t letter = 0;
  if (int rc = ReadLetter(letter, timeoutMs); rc != 0) return rc;
  return letter == kAccepted ? err::kSuccess : err::kTargetError;
}

void DrainLine(uint32_t quietMs, uint32_t limitMs) {
  const uint32_t start = TickMs();
  uint8_t sink[256];
  while (TickMs() - start < limitMs) {
    if (PortReadAvailable(sink, sizeof sink) > 0) continue;
    if (PortRead(sink, 1, quietMs) != 0) return;
  }
}

uint32_t ReadBigEndian32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

uint16_t ReadBigEndian16(const uint8_t* in) {
  return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

void WriteBigEndian32(uint32_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

int Percent(int64_t part, int64_t whole) {
  if (whole == 0) return 0;
  return static_cast<int>(std::clamp<int64_t>(part * 100 / whole, 0, 100));
}

}  // namespace stb::legacy
