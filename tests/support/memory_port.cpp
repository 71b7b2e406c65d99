#include "memory_port.h"

#include <algorithm>

namespace stb::test {

MemoryPort::MemoryPort(VirtualClock& clock) : clock_(clock) {
  clock_.OnAdvance([this](uint32_t now) { ReleaseDue(now); });
}

int MemoryPort::Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) {
  ++openCount;
  lastPort = port;
  lastBaud = baud;
  lastParity = parity;
  lastStopBits = stopBits;
  isOpen = openResult == 1;
  return openResult;
}

int MemoryPort::Close() {
  ++closeCount;
  isOpen = false;
  return 1;
}

int32_t MemoryPort::Write(const uint8_t* data, int32_t length) {
  if (length <= 0) return 0;
  int32_t accepted = length;
  if (writeBudget >= 0) {
    accepted = static_cast<int32_t>(std::min<int64_t>(length, writeBudget));
    writeBudget -= accepted;
  }
  written_.insert(written_.end(), data, data + accepted);
  writeCalls_.push_back(accepted);
  if (hook_ && accepted > 0) hook_(data, accepted);
  return accepted;
}

void MemoryPort::ReleaseDue(uint32_t now) {
  while (!pending_.empty() && static_cast<int32_t>(now - pending_.front().due) >= 0) {
    input_.insert(input_.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
    pending_.pop_front();
  }
}

int32_t MemoryPort::BytesAvailable() {
  ReleaseDue(clock_.NowMs());
  return static_cast<int32_t>(input_.size());
}

int32_t MemoryPort::ReadAvailable(uint8_t* buffer, int32_t maxLength) {
  ReleaseDue(clock_.NowMs());
  const int32_t n = std::min<int32_t>(maxLength, static_cast<int32_t>(input_.size()));
  if (n <= 0) return 0;
  std::copy_n(input_.begin(), n, buffer);
  input_.erase(input_.begin(), input_.begin() + n);
  return n;
}

bool MemoryPort::ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) {
  if (length == 0) return true;
  const uint32_t t0 = clock_.NowMs();
  for (;;) {
    // As on the serial port: the limit first, then the queue, then 1 ms of sleep.
    if (clock_.NowMs() - t0 >= timeoutMs) return false;
    if (BytesAvailable() >= length) return ReadAvailable(buffer, length) == length;
    clock_.SleepMs(1);
  }
}

bool MemoryPort::PurgeInput() {
  ++purgeInputCount;
  ReleaseDue(clock_.NowMs());
  input_.clear();
  return true;
}

bool MemoryPort::PurgeOutput() {
  ++purgeOutputCount;
  return true;
}

void MemoryPort::Deliver(const std::vector<uint8_t>& bytes, uint32_t delayMs) {
  // Keep arrival order even when delays differ.
  uint32_t due = clock_.NowMs() + delayMs;
  if (!pending_.empty() && static_cast<int32_t>(pending_.back().due - due) > 0) {
    due = pending_.back().due;
  }
  pending_.push_back({due, bytes});
  ReleaseDue(clock_.NowMs());
}

void MemoryPort::Deliver(const std::string& bytes, uint32_t delayMs) {
  Deliver(std::vector<uint8_t>(bytes.begin(), bytes.end()), delayMs);
}

}  // namespace stb::test
