#include "scripted_legacy_box.h"

#include "image/crc32.h"

namespace stb::test {

ScriptedLegacyBox::ScriptedLegacyBox(MemoryPort& port, VirtualClock& clock)
    : port_(port), clock_(clock) {
  port_.OnWrite([this](const uint8_t* data, int32_t length) { OnWrite(data, length); });
}

void ScriptedLegacyBox::OnWrite(const uint8_t* data, int32_t length) {
  if (port_.purgeInputCount != purgesSeen_) {
    purgesSeen_ = port_.purgeInputCount;
    typing_ = true;
    line_.clear();
  }
  if (!typing_) {
    data_.insert(data_.end(), data, data + length);
    if (onData) onData(Bytes(data, data + length));
    return;
  }
  for (int32_t i = 0; i < length; ++i) {
    if (line_.empty()) lineStartMs_ = clock_.NowMs();
    line_.push_back(static_cast<char>(data[i]));
    if (echoes) port_.Deliver(Bytes{garbleEchoes ? uint8_t(data[i] ^ 0x20) : data[i]}, echoDelayMs);
    if (data[i] == '\r') {
      typing_ = false;
      lines_.push_back(line_);
      data_.clear();
      if (onCommand) onCommand(line_);
      line_.clear();
      // What follows in the same write is data, not typing.
      if (i + 1 < length) OnWrite(data + i + 1, length - i - 1);
      return;
    }
  }
}

Bytes BigEndian32(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

Bytes BigEndian16(uint16_t value) {
  return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

Bytes CrcBytes(const Bytes& data) {
  return BigEndian32(Crc32Of(data.data(), static_cast<int32_t>(data.size())));
}

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace stb::test
