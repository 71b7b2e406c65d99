// Reading and writing the fields of packets: big-endian numbers, status replies,
// and the box's error values.
#pragma once

#include <cstdint>

#include "context/error_table.h"
#include "protocol/packet.h"

namespace stb {

inline uint32_t ReadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void WriteBe32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

inline bool IsType(const LoaderPacket& packet, PacketType type) {
  return packet.type == static_cast<uint8_t>(type);
}

// A status reply carries its status byte and a 32-bit value; a shorter one would
// hand us the CRC bytes behind the payload as the value, so it does not count.
inline bool IsStatusReply(const LoaderPacket& packet) {
  return IsType(packet, PacketType::Status) && packet.length >= 5;
}

inline uint8_t StatusOf(const LoaderPacket& packet) {
  return packet.payload[0];
}
inline uint32_t StatusValueOf(const LoaderPacket& packet) {
  return ReadBe32(packet.payload + 1);
}
inline bool HasStatus(const LoaderPacket& packet, LoaderStatus status) {
  return StatusOf(packet) == static_cast<uint8_t>(status);
}

// The box's own codes (0x10000 and more, and whatever it sends above 0x7FFFFFFF)
// end an exchange at once.
inline bool IsBoxFatal(uint32_t value) {
  return value >= static_cast<uint32_t>(err::kBoxFirst);
}

// The result for an Error status that ends a command. A box that reports Error with
// value 0 must not turn the command into a success.
inline int32_t ErrorResultOf(uint32_t value) {
  return value == 0 ? err::kTargetError : static_cast<int32_t>(value);
}

}  // namespace stb
