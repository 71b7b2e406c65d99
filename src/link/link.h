// Byte-level sends beside the port functions, the handshake that tells the two box
// generations apart, the protocol version, and the protocol layer's log sink.
#pragma once

#include <cstdint>

namespace stb {

// "@KVO PROTOCOL 3.0+": the box answers it with the same bytes (legacy) or with
// their complement (protocol 3.0 and later).
extern const char ProtocolIdString[256];
inline constexpr int kProtocolIdLength = 18;
// "comtest 18\r"
const char* SynchronisationCommand();

using LogSinkFunction = void (*)(uint32_t level, const char* format, ...);
void SetLogSink(LogSinkFunction function);
LogSinkFunction LogSink();
// Calls the log sink when one is set.
#define STB_LOG(level, ...)                                                           \
  do {                                                                                \
    if (::stb::LogSinkFunction sink_ = ::stb::LogSink()) sink_((level), __VA_ARGS__); \
  } while (0)

uint32_t CurrentProtocolVersion();
void SetProtocolVersion(uint32_t version);

// "V.2B  "
const char* GetLinkVersion();

// Writes the low byte of value; returns the count written (1 or 0).
int32_t SendByte(uint32_t value);
// Sends each byte and checks its echo: 0, 3 (not written), 23 (no echo), 4 (wrong echo).
int SendEcho(const uint8_t* data, int32_t count, uint32_t timeoutMs);

using CancelQuery = int (*)();
// 0 with 32 or 48 in versionOut; 6 cancelled; 7 no valid answer after 200 attempts.
int Handshake(uint32_t& versionOut, CancelQuery isCancelled);

}  // namespace stb
