#include "scripted_packet_box.h"

#include <cstdio>
#include <cstring>

namespace stb::test {

uint32_t BoxCrc32(const uint8_t* data, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

Bytes Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes Hex(const std::string& text) {
  Bytes out;
  unsigned value = 0;
  int digits = 0;
  for (char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) continue;
    value = value * 16 + static_cast<unsigned>(d);
    if (++digits == 2) {
      out.push_back(static_cast<uint8_t>(value));
      value = 0;
      digits = 0;
    }
  }
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

static uint32_t Be32At(const Bytes& b, size_t at) {
  if (b.size() < at + 4) return 0;
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
         uint32_t{b[at + 3]};
}

uint32_t WirePacket::Number() const {
  return Be32At(payload, 0);
}
uint8_t WirePacket::Status() const {
  return payload.empty() ? 0xFF : payload[0];
}
uint32_t WirePacket::StatusValue() const {
  return Be32At(payload, 1);
}
Bytes WirePacket::Data() const {
  return payload.size() <= 4 ? Bytes{} : Bytes(payload.begin() + 4, payload.end());
}

Bytes Frame(uint8_t type, uint32_t sequence, const Bytes& payload, uint8_t blank,
            uint32_t announcedLength, uint8_t retry) {
  const uint32_t length =
      announcedLength == UINT32_MAX ? static_cast<uint32_t>(payload.size()) : announcedLength;
  Bytes covered = Join({{type, blank}, Be32(sequence), {retry}, Be32(length)});
  return Join(
      {{'H', 'E', 'A', 'D'}, covered, Be32(BoxCrc32(covered)), payload, Be32(BoxCrc32(payload))});
}

Bytes StatusFrame(uint32_t sequence, LoaderStatus status, uint32_t value) {
  return Frame(static_cast<uint8_t>(PacketType::Status), sequence,
               Join({{static_cast<uint8_t>(status)}, Be32(value)}));
}

Bytes DataFrame(uint32_t sequence, uint32_t number, const Bytes& data) {
  return Frame(static_cast<uint8_t>(PacketType::Data), sequence, Join({Be32(number), data}));
}

Bytes BlankFrame(uint32_t sequence, uint32_t number, uint32_t dataBytes) {
  return Frame(static_cast<uint8_t>(PacketType::Data), sequence, Be32(number), 1, dataBytes + 4);
}

ScriptedPacketBox::ScriptedPacketBox(MemoryPort& port) : port_(port) {
  port_.OnWrite([this](const uint8_t* data, int32_t length) { Feed(data, length); });
}

void ScriptedPacketBox::Status(LoaderStatus status, uint32_t value, uint32_t delayMs) {
  Send(StatusFrame(LastSequence(), status, value), delayMs);
}

void ScriptedPacketBox::Data(uint32_t number, const Bytes& data, uint32_t delayMs) {
  Send(DataFrame(LastSequence(), number, data), delayMs);
}

void ScriptedPacketBox::Blank(uint32_t number, uint32_t dataBytes, uint32_t delayMs) {
  Send(BlankFrame(LastSequence(), number, dataBytes), delayMs);
}

std::vector<WirePacket> ScriptedPacketBox::Received(PacketType type) const {
  std::vector<WirePacket> out;
  for (const WirePacket& p : received_)
    if (p.Is(type)) out.push_back(p);
  return out;
}

std::vector<std::string> ScriptedPacketBox::Commands() const {
  std::vector<std::string> out;
  for (const WirePacket& p : Received(PacketType::Command)) out.push_back(p.Text());
  return out;
}

// The tool writes a packet in three calls; collect until a whole one is there. A
// header with a wrong CRC, or bytes before a magic, are dropped one at a time.
void ScriptedPacketBox::Feed(const uint8_t* data, int32_t length) {
  pending_.insert(pending_.end(), data, data + length);
  for (;;) {
    while (pending_.size() >= 4 && std::memcmp(pending_.data(), "HEAD", 4) != 0) {
      pending_.erase(pending_.begin());
      ++stray_;
    }
    if (pending_.size() < 19) return;
    const Bytes covered(pending_.begin() + 4, pending_.begin() + 15);
    if (BoxCrc32(covered) != Be32At(pending_, 15)) {
      pending_.erase(pending_.begin());
      ++stray_;
      continue;
    }
    WirePacket p;
    p.type = pending_[4];
    p.blank = pending_[5];
    p.sequence = Be32At(pending_, 6);
    p.retry = pending_[10];
    p.length = Be32At(pending_, 11);
    if (pending_.size() < 19 + size_t{p.length} + 4) return;
    p.payload.assign(pending_.begin() + 19, pending_.begin() + 19 + p.length);
    EXPECT_EQ(BoxCrc32(p.payload), Be32At(pending_, 19 + p.length)) << "payload CRC from the tool";
    p.wire.assign(pending_.begin(), pending_.begin() + 19 + p.length + 4);
    pending_.erase(pending_.begin(), pending_.begin() + 19 + p.length + 4);
    received_.push_back(p);
    if (handler_) handler_(p);
  }
}

}  // namespace stb::test
