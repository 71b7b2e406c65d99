#include "protocol/packet.h"

#include <cstring>

#include "context/error_table.h"
#include "image/crc32.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/port.h"
#include "protocol/packet_fields.h"

namespace stb {

namespace {

constexpr uint8_t kMagic[4] = {'H', 'E', 'A', 'D'};
// Header bytes covered by the header CRC: offsets 4 to 14.
constexpr int kHeaderCrcOffset = 15;
constexpr int kHeaderCoveredBytes = kHeaderCrcOffset - 4;
// The 15 header bytes behind the magic must follow it within this time.
constexpr uint32_t kHeaderRestTimeoutMs = 100;
// Each of 'E', 'A', 'D' must follow its predecessor within this time.
constexpr uint32_t kMagicByteTimeoutMs = 1;

void LogError(const char* text) {
  STB_LOG(0, "\r\n->Error:%s", text);
}

// Refuses a packet before anything is on the line, so the box never sees half of it.
int RefuseOversized() {
  LogError("Send Packet Data Error!");
  return err::kSendPacketData;
}

// Hunts for "HEAD" until the time is up. Bytes before the magic are dropped; an
// 'H' that breaks a match starts the next one. Waiting for a byte sleeps in the
// port's read, not in 1 ms polls, so a silent line costs no wake-ups.
bool FindMagic(uint32_t timeoutMs) {
  const uint32_t start = TickMs();
  uint8_t last = 0;
  for (;;) {
    const uint32_t elapsed = TickMs() - start;
    if (elapsed >= timeoutMs) return false;
    if (last != kMagic[0]) {
      if (PortRead(&last, 1, timeoutMs - elapsed) != 0) last = 0;
      continue;
    }
    last = 0;
    int matched = 1;
    while (matched < 4) {
      uint8_t byte = 0;
      if (PortRead(&byte, 1, kMagicByteTimeoutMs) != 0) break;
      if (byte != kMagic[matched]) {
        last = byte;
        break;
      }
      ++matched;
    }
    if (matched == 4) return true;
  }
}

}  // namespace

uint32_t& PacketSequence() {
  static uint32_t sequence = 0;
  return sequence;
}

uint8_t& PacketRetry() {
  static uint8_t retry = 0;
  return retry;
}

void ResetPacketCounters() {
  PacketSequence() = 0;
  PacketRetry() = 0;
}

void EncodePacketHeader(const LoaderPacket& packet, uint8_t* out19) {
  std::memcpy(out19, kMagic, 4);
  out19[4] = packet.type;
  out19[5] = packet.blank;
  WriteBe32(out19 + 6, packet.sequence);
  out19[10] = packet.retry;
  WriteBe32(out19 + 11, packet.length);
  WriteBe32(out19 + kHeaderCrcOffset, Crc32Of(out19 + 4, kHeaderCoveredBytes));
}

void DecodePacketHeader(const uint8_t* in19, LoaderPacket& packet) {
  packet.type = in19[4];
  packet.blank = in19[5];
  packet.sequence = ReadBe32(in19 + 6);
  packet.retry = in19[10];
  packet.length = ReadBe32(in19 + 11);
}

int SendPacket(const LoaderPacket& packet) {
  if (packet.length > kPayloadCapacity) return RefuseOversized();

  uint8_t header[kPacketHeaderSize];
  EncodePacketHeader(packet, header);
  if (PortWrite(header, kPacketHeaderSize) < kPacketHeaderSize) {
    LogError("Send Packet Header Error!");
    return err::kSendPacketHead;
  }
  const auto length = static_cast<int32_t>(packet.length);
  if (length > 0 && PortWrite(packet.payload, length) != length) {
    LogError("Send Packet Data Error!");
    return err::kSendPacketData;
  }
  uint8_t crc[4];
  WriteBe32(crc, Crc32Of(packet.payload, length));
  if (PortWrite(crc, 4) < 4) {
    LogError("Send Packet Data CRC Error!");
    return err::kSendPacketCrc;
  }
  return err::kSuccess;
}

int ReceivePacket(LoaderPacket& packet, uint32_t timeoutMs) {
  if (!FindMagic(timeoutMs)) return err::kNoPacket;

  uint8_t header[kPacketHeaderSize];
  std::memcpy(header, kMagic, 4);
  if (PortRead(header + 4, kPacketHeaderSize - 4, kHeaderRestTimeoutMs) != 0) {
    LogError("Receive packet head error!");
    return err::kReceiveHead;
  }
  if (Crc32Of(header + 4, kHeaderCoveredBytes) != ReadBe32(header + kHeaderCrcOffset)) {
    LogError("Check packet head CRC error!");
    return err::kHeadCrc;
  }

  std::memset(&packet, 0, sizeof packet);
  DecodePacketHeader(header, packet);

  // The payload shares its area with the 4 CRC bytes; a longer announcement (blank
  // or not) is refused before a byte of it is read.
  if (packet.length > kMaxReceivedPayload) {
    LogError("Receive packet data error!");
    return err::kReceiveData;
  }
  const bool blankData = packet.blank != 0 && IsType(packet, PacketType::Data);
  const uint32_t onWire = blankData ? 4 : packet.length;
  if (PortRead(packet.payload, static_cast<int32_t>(onWire + 4), onWire + 104) != 0) {
    LogError("Receive packet data error!");
    return err::kReceiveData;
  }
  if (Crc32Of(packet.payload, static_cast<int32_t>(onWire)) != ReadBe32(packet.payload + onWire)) {
    LogError("Check packet data CRC error!");
    return err::kDataCrc;
  }
  if (blankData && packet.length > 4) std::memset(packet.payload + 4, 0xFF, packet.length - 4);
  return err::kSuccess;
}

int SendCommandPacket(const char* text, bool repeat) {
  const size_t length = std::strlen(text);
  if (length > kPayloadCapacity) return RefuseOversized();

  if (repeat) {
    ++PacketRetry();
  } else {
    ++PacketSequence();
    PacketRetry() = 0;
  }
  LoaderPacket packet;
  std::memset(&packet, 0, sizeof packet);
  packet.type = static_cast<uint8_t>(PacketType::Command);
  packet.sequence = PacketSequence();
  packet.retry = PacketRetry();
  packet.length = static_cast<uint32_t>(length);
  std::memcpy(packet.payload, text, length);
  return SendPacket(packet);
}

namespace {
void StartPacket(LoaderPacket& packet, PacketType type, uint32_t length) {
  std::memset(&packet, 0, sizeof packet);
  packet.type = static_cast<uint8_t>(type);
  packet.sequence = PacketSequence();
  packet.retry = PacketRetry();
  packet.length = length;
}
}  // namespace

int SendDataPacket(uint32_t number, const uint8_t* data, uint32_t size) {
  if (size > kPayloadCapacity - 4 || (data == nullptr && size > 0)) return RefuseOversized();
  LoaderPacket packet;
  StartPacket(packet, PacketType::Data, size + 4);
  WriteBe32(packet.payload, number);
  if (size > 0) std::memcpy(packet.payload + 4, data, size);
  return SendPacket(packet);
}

int SendRequestPacket(uint32_t number) {
  LoaderPacket packet;
  StartPacket(packet, PacketType::Request, 4);
  WriteBe32(packet.payload, number);
  return SendPacket(packet);
}

int SendStatusPacket(uint8_t status, uint32_t value) {
  LoaderPacket packet;
  StartPacket(packet, PacketType::Status, 5);
  packet.payload[0] = status;
  WriteBe32(packet.payload + 1, value);
  return SendPacket(packet);
}

}  // namespace stb
