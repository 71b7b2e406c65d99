// An in-memory port on the virtual clock. What the tool writes goes to a scripted box
// (the write hook), which answers by queueing bytes, at once or after a delay.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/port.h"
#include "virtual_clock.h"

namespace stb::test {

class MemoryPort final : public stb::IPort {
 public:
  using WriteHook = std::function<void(const uint8_t* data, int32_t length)>;

  explicit MemoryPort(VirtualClock& clock);

  int Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) override;
  int Close() override;
  int32_t Write(const uint8_t* data, int32_t length) override;
  int32_t BytesAvailable() override;
  int32_t ReadAvailable(uint8_t* buffer, int32_t maxLength) override;
  bool ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) override;
  bool PurgeInput() override;
  bool PurgeOutput() override;

  // Bytes for the tool, arriving delayMs after now.
  void Deliver(const std::vector<uint8_t>& bytes, uint32_t delayMs = 0);
  void Deliver(const std::string& bytes, uint32_t delayMs = 0);
  void OnWrite(WriteHook hook) { hook_ = std::move(hook); }

  // Everything the tool wrote, in order, and the size of each write call.
  const std::vector<uint8_t>& Written() const { return written_; }
  const std::vector<int32_t>& WriteCalls() const { return writeCalls_; }
  void ClearWritten() {
    written_.clear();
    writeCalls_.clear();
  }

  // Fault settings.
  int openResult = 1;
  // Writes accept at most this many more bytes in all (negative = no limit).
  int64_t writeBudget = -1;

  int openCount = 0, closeCount = 0, purgeInputCount = 0, purgeOutputCount = 0;
  int32_t lastPort = 0, lastBaud = 0, lastParity = 0, lastStopBits = 0;
  bool isOpen = false;

 private:
  void ReleaseDue(uint32_t now);

  VirtualClock& clock_;
  struct Pending {
    uint32_t due;
    std::vector<uint8_t> bytes;
  };
  std::deque<Pending> pending_;
  std::deque<uint8_t> input_;
  std::vector<uint8_t> written_;
  std::vector<int32_t> writeCalls_;
  WriteHook hook_;
};

// Installs a memory port as the active port for the life of a test.
class ScopedMemoryPort {
 public:
  explicit ScopedMemoryPort(VirtualClock& clock) : port_(clock) { stb::SetActivePort(&port_); }
  ~ScopedMemoryPort() { stb::SetActivePort(nullptr); }
  MemoryPort& operator*() { return port_; }
  MemoryPort* operator->() { return &port_; }

 private:
  MemoryPort port_;
};

}  // namespace stb::test
