// The box's packet framing: "HEAD", type, blank, sequence, retry, length, header CRC,
// payload, payload CRC. Blank data packets carry only their packet number on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace stb::sim {

enum class BoxPacketType : uint8_t { Command = 0, Data = 1, Request = 2, Status = 3 };
enum class BoxStatus : uint8_t { Ack = 0, Error = 1, Working = 2, Done = 3, Abort = 4 };

inline constexpr size_t kBoxHeaderSize = 19;
// The tool's receive record holds 2048 bytes, its payload CRC included.
inline constexpr uint32_t kBoxMaxPayload = 2044;
inline constexpr uint32_t kBoxMaxDumpData = kBoxMaxPayload - 4;

struct BoxPacket {
  uint8_t type = 0;
  uint8_t blank = 0;
  uint32_t sequence = 0;
  uint8_t retry = 0;
  // Announced payload length. For a blank data packet only the first 4 bytes travel;
  // `payload` still holds all of them (the rest 0xFF).
  uint32_t length = 0;
  std::vector<uint8_t> payload;

  bool IsBlankData() const { return blank != 0 && type == uint8_t(BoxPacketType::Data); }
  // Payload bytes that travel on the line.
  uint32_t WirePayloadLength() const { return IsBlankData() ? 4 : length; }
};

BoxPacket MakeStatusPacket(uint32_t sequence, uint8_t retry, BoxStatus status, uint32_t value);
// A data packet: number, then the bytes; sent blank when `blank` is set (the bytes are
// then all 0xFF and only the number travels).
BoxPacket MakeDataPacket(uint32_t sequence, uint8_t retry, uint32_t number, const uint8_t* data,
                         size_t size, bool blank = false);

void EncodeBoxHeader(const BoxPacket& packet, uint8_t* out19);
std::vector<uint8_t> EncodeBoxPacket(const BoxPacket& packet);

enum class HeaderCheck { Ok, BadMagic, BadCrc, TooLong };
// Decodes a 19-byte header (magic included) into packet; payload left empty.
HeaderCheck DecodeBoxHeader(const uint8_t* in19, BoxPacket& packet);
// Checks the wire payload and its CRC (WirePayloadLength() + 4 bytes) and fills the
// payload, expanding a blank data packet. False on a CRC mismatch.
bool DecodeBoxPayload(const uint8_t* wire, BoxPacket& packet);

// Whole-buffer decode, for tests and tools: the packet at the start of bytes.
enum class FrameResult { Ok, Short, BadMagic, BadHeaderCrc, TooLong, BadPayloadCrc };
FrameResult DecodeBoxPacket(const uint8_t* bytes, size_t size, BoxPacket& packet, size_t& used);

const char* PacketTypeName(uint8_t type);
const char* StatusName(uint8_t status);

}  // namespace stb::sim
