// Pieces every legacy command shares: the typed command line, time-limited reads, the
// answer letters and the big-endian numbers of the line.
#pragma once

#include <cstdint>

#include "protocol/callbacks.h"

namespace stb::legacy {

// Answer letters of the box, and the requests and answers of the tool.
inline constexpr uint8_t kAccepted = 'O';
inline constexpr uint8_t kRejected = 'E';
inline constexpr uint8_t kBurnProgress = 'B';
inline constexpr uint8_t kBurnFinished = 'F';
inline constexpr uint8_t kBlockRequest = 'H';
inline constexpr uint8_t kHeaderGood = 'G';

// Each typed character must come back within this time.
inline constexpr uint32_t kEchoTimeoutMs = 200;

// Waits 100 ms, drops stale input and types text with its echo checked: 0, or 5.
int StartCommand(const char* text);
// Types text without the leading wait (reboot): 0, or 5.
int TypeCommand(const char* text);

// Reads exactly n bytes within timeoutMs: 0, or 8 when they did not all arrive.
int ReadWithin(uint8_t* buffer, int32_t n, uint32_t timeoutMs);
// Reads one answer letter within timeoutMs: 0, or 8.
int ReadLetter(uint8_t& letter, uint32_t timeoutMs);
// Reads the box's first answer to a command: 0 for 'O', 10 for any other letter, 8.
int ReadAcceptance(uint32_t timeoutMs);
// Drops what waits on the line and whatever keeps arriving until it has been quiet for
// quietMs, for at most limitMs in all: the rest of an answer the tool could not read.
void DrainLine(uint32_t quietMs, uint32_t limitMs);

uint32_t ReadBigEndian32(const uint8_t* in);
uint16_t ReadBigEndian16(const uint8_t* in);
void WriteBigEndian32(uint32_t value, uint8_t* out);

// The callbacks may be absent (tests, tools without a user interface).
inline bool IsCancelled(CancelQuery cancel) {
  return cancel != nullptr && cancel() == 1;
}
inline void Report(ProgressCallback progress, int percent) {
  if (progress != nullptr) progress(percent);
}
// part * 100 / whole without the overflow of 32-bit arithmetic, clamped to 0..100.
int Percent(int64_t part, int64_t whole);

}  // namespace stb::legacy
