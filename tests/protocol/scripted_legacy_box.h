// A legacy loader on the memory port: it echoes every character of a typed command
// line and, once the line is complete, hands it to the test, which answers with raw
// bytes. What the tool writes after the line (blocks, answers, requests) goes to the
// test's data handler. Every legacy command begins by discarding input; the box takes
// that as the start of a new line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "memory_port.h"

namespace stb::test {

using Bytes = std::vector<uint8_t>;

class ScriptedLegacyBox {
 public:
  ScriptedLegacyBox(MemoryPort& port, VirtualClock& clock);

  // Called with the whole line, carriage return included.
  std::function<void(const std::string& line)> onCommand;
  // Called with each write of the tool after the line.
  std::function<void(const Bytes& bytes)> onData;

  // A silent box echoes nothing; echoes may also come late or garbled.
  bool echoes = true;
  bool garbleEchoes = false;
  uint32_t echoDelayMs = 0;

  // Queues bytes for the tool, arriving delayMs from now.
  void Send(const Bytes& bytes, uint32_t delayMs = 0) { port_.Deliver(bytes, delayMs); }
  void Send(const std::string& bytes, uint32_t delayMs = 0) { port_.Deliver(bytes, delayMs); }

  const std::vector<std::string>& Lines() const { return lines_; }
  // Everything the tool wrote after its last complete line.
  const Bytes& Data() const { return data_; }
  // Virtual time at which the first character of the last line arrived.
  uint32_t LineStartMs() const { return lineStartMs_; }

 private:
  void OnWrite(const uint8_t* data, int32_t length);

  MemoryPort& port_;
  VirtualClock& clock_;
  bool typing_ = true;
  int purgesSeen_ = 0;
  std::string line_;
  std::vector<std::string> lines_;
  Bytes data_;
  uint32_t lineStartMs_ = 0;
};

// Line helpers: big-endian numbers, the CRC as the box sends it, concatenation.
Bytes BigEndian32(uint32_t value);
Bytes BigEndian16(uint16_t value);
Bytes CrcBytes(const Bytes& data);
Bytes ToBytes(const std::string& text);
Bytes operator+(Bytes a, const Bytes& b);

}  // namespace stb::test
