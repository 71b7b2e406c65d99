// Framed, CRC-protected packets of loaders of protocol 3.0 and later.
#pragma once

#include <cstdint>

namespace stb {

enum class PacketType : uint8_t { Command = 0, Data = 1, Request = 2, Status = 3 };
enum class LoaderStatus : uint8_t { Ack = 0, Error = 1, Working = 2, Done = 3, Abort = 4 };

inline constexpr int kPacketHeaderSize = 19;
inline constexpr uint32_t kPayloadCapacity = 2048;
// A received payload shares the area with its 4 CRC bytes.
inline constexpr uint32_t kMaxReceivedPayload = kPayloadCapacity - 4;
inline constexpr uint32_t kMaxDataBytes = 1024;

struct LoaderPacket {
  uint8_t type;
  uint8_t blank;
  uint32_t sequence;
  uint8_t retry;
  uint32_t length;
  uint8_t payload[kPayloadCapacity];
};

// Process-wide counters; only SendCommandPacket changes them. Zero at start.
uint32_t& PacketSequence();
uint8_t& PacketRetry();
void ResetPacketCounters();  // for tests: as at program start

void EncodePacketHeader(const LoaderPacket& packet, uint8_t* out19);
void DecodePacketHeader(const uint8_t* in19, LoaderPacket& packet);

int SendPacket(const LoaderPacket& packet);
int ReceivePacket(LoaderPacket& packet, uint32_t timeoutMs);
int SendCommandPacket(const char* text, bool repeat);
int SendDataPacket(uint32_t number, const uint8_t* data, uint32_t size);
int SendRequestPacket(uint32_t number);
int SendStatusPacket(uint8_t status, uint32_t value);

}  // namespace stb
