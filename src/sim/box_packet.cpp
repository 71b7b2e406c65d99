#include "sim/box_packet.h"

#include <algorithm>
#include <cstring>

#include "sim/box_crc.h"

namespace stb::sim {

namespace {
constexpr uint8_t kMagic[4] = {'H', 'E', 'A', 'D'};
}

BoxPacket MakeStatusPacket(uint32_t sequence, uint8_t retry, BoxStatus status, uint32_t value) {
  BoxPacket p;
  p.type = uint8_t(BoxPacketType::Status);
  p.sequence = sequence;
  p.retry = retry;
  p.length = 5;
  p.payload.resize(5);
  p.payload[0] = uint8_t(status);
  PutBe32(&p.payload[1], value);
  return p;
}

BoxPacket MakeDataPacket(uint32_t sequence, uint8_t retry, uint32_t number, const uint8_t* data,
                         size_t size, bool blank) {
  BoxPacket p;
  p.type = uint8_t(BoxPacketType::Data);
  p.blank = blank ? 1 : 0;
  p.sequence = sequence;
  p.retry = retry;
  p.length = static_cast<uint32_t>(size + 4);
  p.payload.assign(size + 4, 0xFF);
  PutBe32(p.payload.data(), number);
  if (!blank && size > 0) std::memcpy(p.payload.data() + 4, data, size);
  return p;
}

void EncodeBoxHeader(const BoxPacket& packet, uint8_t* out) {
  std::memcpy(out, kMagic, 4);
  out[4] = packet.type;
  out[5] = packet.blank;
  PutBe32(out + 6, packet.sequence);
  out[10] = packet.retry;
  PutBe32(out + 11, packet.length);
  PutBe32(out + 15, BoxCrc(out + 4, 11));
}

std::vector<uint8_t> EncodeBoxPacket(const BoxPacket& packet) {
  const uint32_t wire =
      std::min<uint32_t>(packet.WirePayloadLength(), static_cast<uint32_t>(packet.payload.size()));
  std::vector<uint8_t> out(kBoxHeaderSize + wire + 4);
  EncodeBoxHeader(packet, out.data());
  if (wire > 0) std::memcpy(out.data() + kBoxHeaderSize, packet.payload.data(), wire);
  PutBe32(out.data() + kBoxHeaderSize + wire, BoxCrc(packet.payload.data(), wire));
  return out;
}

HeaderCheck DecodeBoxHeader(const uint8_t* in, BoxPacket& packet) {
  if (std::memcmp(in, kMagic, 4) != 0) return HeaderCheck::BadMagic;
  if (GetBe32(in + 15) != BoxCrc(in + 4, 11)) return HeaderCheck::BadCrc;
  packet = BoxPacket{};
  packet.type = in[4];
  packet.blank = in[5];
  packet.sequence = GetBe32(in + 6);
  packet.retry = in[10];
  packet.length = GetBe32(in + 11);
  // A blank data packet must still announce at least its number.
  if (packet.length > kBoxMaxPayload || (packet.IsBlankData() && packet.length < 4))
    return HeaderCheck::TooLong;
  return HeaderCheck::Ok;
}

bool DecodeBoxPayload(const uint8_t* wire, BoxPacket& packet) {
  const uint32_t n = packet.WirePayloadLength();
  if (GetBe32(wire + n) != BoxCrc(wire, n)) return false;
  packet.payload.assign(packet.length, 0xFF);
  std::memcpy(packet.payload.data(), wire, n);
  return true;
}

FrameResult DecodeBoxPacket(const uint8_t* bytes, size_t size, BoxPacket& packet, size_t& used) {
  used = 0;
  if (size < kBoxHeaderSize) return FrameResult::Short;
  switch (DecodeBoxHeader(bytes, packet)) {
    case HeaderCheck::BadMagic:
      return FrameResult::BadMagic;
    case HeaderCheck::BadCrc:
      return FrameResult::BadHeaderCrc;
    case HeaderCheck::TooLong:
      return FrameResult::TooLong;
    case HeaderCheck::Ok:
      break;
  }
  const size_t total = kBoxHeaderSize + packet.WirePayloadLength() + 4;
  if (size < total) return FrameResult::Short;
  if (!DecodeBoxPayload(bytes + kBoxHeaderSize, packet)) return FrameResult::BadPayloadCrc;
  used = total;
  return FrameResult::Ok;
}

const char* PacketTypeName(uint8_t type) {
  switch (type) {
    case 0:
      return "Command";
    case 1:
      return "Data";
    case 2:
      return "Request";
    case 3:
      return "Status";
    default:
      return "unknown";
  }
}

const char* StatusName(uint8_t status) {
  switch (status) {
    case 0:
      return "Ack";
    case 1:
      return "Error";
    case 2:
      return "Working";
    case 3:
      return "Done";
    case 4:
      return "Abort";
    default:
      return "unknown";
  }
}

}  // namespace stb::sim
