// The box's end of the packet line, for tests: it parses what the tool writes into
// packets and lets a test's handler answer them. Its framing and CRC are written
// here on their own, so a fault in the tool's framing cannot cancel itself out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "context/upgrade_context.h"
#include "memory_port.h"
#include "protocol/packet.h"
#include "recording_window.h"
#include "virtual_clock.h"

namespace stb::test {

using Bytes = std::vector<uint8_t>;

// CRC-32/MPEG-2 bit by bit: polynomial 0x04C11DB7, MSB first, start 0xFFFFFFFF.
uint32_t BoxCrc32(const uint8_t* data, size_t n);
inline uint32_t BoxCrc32(const Bytes& b) {
  return BoxCrc32(b.data(), b.size());
}

Bytes Be32(uint32_t value);
Bytes Hex(const std::string& text);  // "48 45 41 44" -> bytes
Bytes Join(std::initializer_list<Bytes> parts);

// One packet as the box read it from the line.
struct WirePacket {
  uint8_t type = 0;
  uint8_t blank = 0;
  uint32_t sequence = 0;
  uint8_t retry = 0;
  uint32_t length = 0;
  Bytes payload;
  Bytes wire;  // every byte of the packet, magic to payload CRC

  bool Is(PacketType t) const { return type == static_cast<uint8_t>(t); }
  std::string Text() const { return std::string(payload.begin(), payload.end()); }
  uint32_t Number() const;       // payload bytes 0..3
  uint8_t Status() const;        // payload byte 0 of a status packet
  uint32_t StatusValue() const;  // payload bytes 1..4 of a status packet
  Bytes Data() const;            // payload from byte 4 on
};

// Wire bytes of a packet from the box. length defaults to the payload size; a blank
// data packet announces its length but carries only the 4 number bytes.
Bytes Frame(uint8_t type, uint32_t sequence, const Bytes& payload, uint8_t blank = 0,
            uint32_t announcedLength = UINT32_MAX, uint8_t retry = 0);
Bytes StatusFrame(uint32_t sequence, LoaderStatus status, uint32_t value);
Bytes DataFrame(uint32_t sequence, uint32_t number, const Bytes& data);
Bytes BlankFrame(uint32_t sequence, uint32_t number, uint32_t dataBytes);

class ScriptedPacketBox {
 public:
  using Handler = std::function<void(const WirePacket& packet)>;

  explicit ScriptedPacketBox(MemoryPort& port);

  // Called for each complete packet the tool sends, after it is recorded.
  void OnPacket(Handler handler) { handler_ = std::move(handler); }

  // Replies, in the sequence of the last packet the box read unless one is given.
  void Send(const Bytes& bytes, uint32_t delayMs = 0) { port_.Deliver(bytes, delayMs); }
  void Status(LoaderStatus status, uint32_t value = 0, uint32_t delayMs = 0);
  void Data(uint32_t number, const Bytes& data, uint32_t delayMs = 0);
  void Blank(uint32_t number, uint32_t dataBytes, uint32_t delayMs = 0);

  const std::vector<WirePacket>& Received() const { return received_; }
  std::vector<WirePacket> Received(PacketType type) const;
  std::vector<std::string> Commands() const;  // texts of the command packets
  uint32_t LastSequence() const { return received_.empty() ? 0 : received_.back().sequence; }
  // Forgets what the tool sent so far, for a test that runs several cases.
  void ClearReceived() { received_.clear(); }
  // Forgets a packet the tool left half written.
  void DropPending() { pending_.clear(); }
  // Bytes on the line that were not part of a packet (torn writes, say).
  size_t StrayBytes() const { return stray_; }

 private:
  void Feed(const uint8_t* data, int32_t length);

  MemoryPort& port_;
  Handler handler_;
  Bytes pending_;
  std::vector<WirePacket> received_;
  size_t stray_ = 0;
};

// Virtual clock, memory port with a scripted box, recording window with FormatLog
// as the log sink, and the packet counters as at program start.
class PacketBoxTest : public ::testing::Test {
 protected:
  PacketBoxTest() : port_(*clock_), box_(*port_) {
    ResetPacketCounters();
    CancelRequested() = 0;
  }
  ~PacketBoxTest() override { CancelRequested() = 0; }

  std::vector<std::string> Logs() { return window_->Texts(WM_WORKER_LOG); }
  std::vector<int64_t> Progress() { return window_->Progress(); }

  ScopedVirtualClock clock_;
  ScopedMemoryPort port_;
  ScopedRecordingWindow window_;
  ScriptedPacketBox box_;
};

}  // namespace stb::test
