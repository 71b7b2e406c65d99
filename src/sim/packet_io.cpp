#include "sim/packet_io.h"

#include "sim/box_codes.h"

namespace stb::sim {

namespace {
// The tool writes each part of a packet in one go; these limits only end a half packet.
constexpr uint32_t kMagicByteMs = 50;
constexpr uint32_t kHeaderMs = 200;
constexpr uint32_t kPayloadBaseMs = 300;
constexpr uint32_t kQuietMs = 30;
constexpr uint32_t kDrainMaxMs = 2000;
}  // namespace

ReceiveOutcome ReceivePacketAfterH(BoxContext& ctx, BoxPacket& packet, uint32_t& code) {
  uint8_t header[kBoxHeaderSize] = {'H'};
  static constexpr uint8_t kRest[3] = {'E', 'A', 'D'};
  for (size_t i = 0; i < 3; ++i) {
    if (!ctx.line.ReadByte(header[1 + i], kMagicByteMs)) {
      ctx.line.Unread(header + 1, i);
      return ReceiveOutcome::NotPacket;
    }
    if (header[1 + i] != kRest[i]) {
      ctx.line.Unread(header + 1, i + 1);
      return ReceiveOutcome::NotPacket;
    }
  }
  size_t got = 0;
  if (!ctx.line.ReadExact(header + 4, kBoxHeaderSize - 4, kHeaderMs, &got)) {
    ++ctx.counters.framingErrors;
    ctx.log.Printf("half packet: %zu of 15 header bytes after HEAD, dropped", got);
    return ReceiveOutcome::Dropped;
  }
  const HeaderCheck check = DecodeBoxHeader(header, packet);
  if (check == HeaderCheck::BadCrc) {
    ++ctx.counters.framingErrors;
    const size_t dropped = ctx.line.Drain(kQuietMs, kDrainMaxMs);
    ctx.log.Printf("header CRC wrong: packet dropped without answer (%zu bytes after it discarded)",
                   dropped);
    return ReceiveOutcome::Dropped;
  }
  if (check == HeaderCheck::TooLong) {
    ++ctx.counters.framingErrors;
    const size_t dropped = ctx.line.Drain(kQuietMs, kDrainMaxMs);
    ctx.log.Printf("%s seq=%u announces %u payload bytes (at most %u): %zu bytes discarded",
                   PacketTypeName(packet.type), packet.sequence, packet.length, kBoxMaxPayload,
                   dropped);
    code = kBoxReceiveData;
    return ReceiveOutcome::BadPayload;
  }
  const uint32_t wire = packet.WirePayloadLength();
  std::vector<uint8_t> body(wire + 4);
  if (!ctx.line.ReadExact(body.data(), body.size(), kPayloadBaseMs + wire, &got)) {
    ++ctx.counters.framingErrors;
    ctx.log.Printf("%s seq=%u: %zu of %zu payload bytes arrived", PacketTypeName(packet.type),
                   packet.sequence, got, body.size());
    code = kBoxReceiveData;
    return ReceiveOutcome::BadPayload;
  }
  if (!DecodeBoxPayload(body.data(), packet)) {
    ++ctx.counters.framingErrors;
    ctx.log.Printf("%s seq=%u retry=%u: payload CRC wrong", PacketTypeName(packet.type),
                   packet.sequence, packet.retry);
    code = kBoxDataCrc;
    return ReceiveOutcome::BadPayload;
  }
  return ReceiveOutcome::Ok;
}

void SendPacket(BoxContext& ctx, const BoxPacket& packet, const std::string& what) {
  const uint32_t n = ctx.faults.NextReply();
  ++ctx.counters.repliesSent;
  if (ctx.faults.DropReply(n)) {
    ctx.log.Printf("reply %u (%s) dropped (fault drop-reply)", n, what.c_str());
    return;
  }
  std::vector<uint8_t> bytes = EncodeBoxPacket(packet);
  if (ctx.faults.CorruptHeader(n)) {
    bytes[15] ^= 0x5A;
    ctx.log.Printf("reply %u (%s) with a wrong header CRC (fault)", n, what.c_str());
  }
  if (ctx.faults.CorruptPayload(n)) {
    bytes.back() ^= 0xA5;
    ctx.log.Printf("reply %u (%s) with a wrong payload CRC (fault)", n, what.c_str());
  }
  const std::vector<uint8_t> noise = ctx.faults.Noise();
  if (!noise.empty()) bytes.insert(bytes.begin(), noise.begin(), noise.end());
  SendRaw(ctx, bytes);
}

}  // namespace stb::sim
