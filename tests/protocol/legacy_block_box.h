// The box's side of the legacy block dump on the scripted legacy box: blocks as frames
// queued by the test, one per 'H', and a log of everything the tool answers.
#pragma once

#include <deque>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "scripted_legacy_box.h"

namespace stb::test {

inline Bytes LittleEndianCrc(uint32_t value) {
  const Bytes le = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return CrcBytes(le);
}

// One block as the box sends it after an 'H'.
struct Frame {
  uint32_t index;
  uint32_t length;
  Bytes body;  // data and its CRC, or the blank marker and its CRC
  Bytes indexCrc;
  Bytes lengthCrc;
};

inline Frame DataFrame(uint32_t index, const Bytes& data) {
  const auto length = static_cast<uint32_t>(data.size());
  return {index, length, data + CrcBytes(data), LittleEndianCrc(index), LittleEndianCrc(length)};
}

// The CRC of "BLANKPCK" as the box sends it.
inline const Bytes kBlankBody = ToBytes("BLANKPCK") + Bytes{0x8F, 0xA5, 0x14, 0x70};

inline Frame BlankFrame(uint32_t index, uint32_t length) {
  return {index, length, kBlankBody, LittleEndianCrc(index), LittleEndianCrc(length)};
}

// A frame whose header announces other numbers than its body has, with header CRCs
// that match what it announces.
inline Frame Announcing(Frame frame, uint32_t index, uint32_t length) {
  frame.index = index;
  frame.length = length;
  frame.indexCrc = LittleEndianCrc(index);
  frame.lengthCrc = LittleEndianCrc(length);
  return frame;
}

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes data(n);
  std::iota(data.begin(), data.end(), seed);
  return data;
}

// The box's side: a header per 'H', the body at once (32) or after 'G' (33 and up),
// then the tool's 9-byte answer. Each tool action is logged: "H", "G", "O<n>", "E<n>".
class BlockBox {
 public:
  BlockBox(ScriptedLegacyBox& box, bool headerCrcs) : box_(box), headerCrcs_(headerCrcs) {
    box_.onData = [this](const Bytes& bytes) { OnData(bytes); };
  }
  void AnnounceTotal(std::optional<uint32_t> total) {
    box_.onCommand = [this, total](const std::string&) {
      if (total) box_.Send(BigEndian32(*total));
    };
  }
  std::deque<Frame> frames;
  // Once the frames are used up, the last one is sent again on every 'H'.
  bool repeatLast = false;
  // Each header comes this long after its request (the line's time; 0 = at once).
  uint32_t headerDelayMs = 0;
  // The last part of every body comes this long after the rest (0 = with it).
  uint32_t bodyTailDelayMs = 0;
  std::vector<std::string> log;
  std::vector<Bytes> answers;

 private:
  enum class State { WaitRequest, WaitConfirm, WaitAnswer };

  void OnData(const Bytes& bytes) {
    if (bytes.size() == 9) {
      answers.push_back(bytes);
      const uint32_t index = (uint32_t{bytes[1]} << 24) | (uint32_t{bytes[2]} << 16) |
                             (uint32_t{bytes[3]} << 8) | bytes[4];
      log.push_back(std::string(1, static_cast<char>(bytes[0])) + std::to_string(index));
      state_ = State::WaitRequest;
      return;
    }
    for (uint8_t letter : bytes) {
      log.push_back(std::string(1, static_cast<char>(letter)));
      if (state_ == State::WaitConfirm) {
        if (letter == 'G') {
          SendBody();
          state_ = State::WaitAnswer;
        } else {
          state_ = State::WaitRequest;  // header refused; the frame is gone
        }
      } else if (letter == 'H' && (!frames.empty() || (repeatLast && sentAny_))) {
        if (!frames.empty()) {
          current_ = frames.front();
          frames.pop_front();
          sentAny_ = true;
        }
        const Bytes header = BigEndian32(current_.index) + BigEndian32(current_.length);
        if (headerCrcs_) {
          box_.Send(header + current_.indexCrc + current_.lengthCrc, headerDelayMs);
          state_ = State::WaitConfirm;
        } else {
          box_.Send(header, headerDelayMs);
          SendBody();
          state_ = State::WaitAnswer;
        }
      }
    }
  }

  void SendBody() {
    const Bytes& body = current_.body;
    if (bodyTailDelayMs == 0 || body.size() < 2) return box_.Send(body);
    const auto half = static_cast<long>(body.size() / 2);
    box_.Send(Bytes(body.begin(), body.begin() + half));
    box_.Send(Bytes(body.begin() + half, body.end()), bodyTailDelayMs);
  }

  ScriptedLegacyBox& box_;
  bool headerCrcs_;
  State state_ = State::WaitRequest;
  Frame current_{};
  bool sentAny_ = false;
};

}  // namespace stb::test
