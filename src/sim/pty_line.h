// The box's end of the line: the master side of a pseudo-terminal, with optional pacing
// at a line rate, a stop signal that wakes every wait, and bytes that can be put back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace stb::sim {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Opens the pair. The box keeps the slave open itself, in raw mode, so the line works
  // (and the master never sees a hang-up) before, between and after the tool's opens.
  bool Open(std::string& error);
  void Close();
  const std::string& SlavePath() const { return slavePath_; }

  // 10 bits per byte in both directions; 0 switches pacing off.
  void SetBaud(uint32_t baud);
  // Line time of n bytes in milliseconds (0 without pacing), rounded up.
  uint32_t LineTimeMs(size_t n) const;

  void RequestStop();  // from any thread
  bool Stopping() const { return stop_.load(); }

  // One byte within timeoutMs; false on timeout or stop.
  bool ReadByte(uint8_t& out, uint32_t timeoutMs);
  // Exactly n bytes within timeoutMs plus their line time; false (with the bytes that
  // did come in `got`) otherwise.
  bool ReadExact(uint8_t* out, size_t n, uint32_t timeoutMs, size_t* got = nullptr);
  // Puts bytes back in front of what is still to be read.
  void Unread(const uint8_t* data, size_t n);
  // Discards input until the line has been quiet for quietMs (at most maxMs in all);
  // returns the count discarded.
  size_t Drain(uint32_t quietMs, uint32_t maxMs);
  // All n bytes, paced; false when they could not go out within 5 s or on stop.
  bool Write(const uint8_t* data, size_t n);

 private:
  using Clock = std::chrono::steady_clock;
  bool Fill(uint32_t timeoutMs);
  bool WriteRaw(const uint8_t* data, size_t n);

  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::string slavePath_;
  std::deque<uint8_t> putBack_;
  std::vector<uint8_t> rx_;
  size_t rxPos_ = 0;
  Clock::time_point rxStamp_{};
  std::chrono::nanoseconds byteTime_{0};
  Clock::time_point rxFree_{};
  Clock::time_point txFree_{};
};

}  // namespace stb::sim
