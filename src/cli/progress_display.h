// Progress of transfers and of the burn on stderr: a bar with percent, bytes, speed
// and time left on a terminal; one line per 10 percent otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace stb::cli {

class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  // A new transfer (or the burn) begins; totalBytes 0 when unknown.
  void Begin(const std::string& label, uint64_t totalBytes);
  void Update(int percent);
  // Ends the bar's line, so the next text starts on a line of its own.
  void Finish();

  static std::string FormatBytes(uint64_t bytes);
  // "[#####.....]  50%  512.0 KiB / 1.0 MiB  11.2 KiB/s  0:45 left"
  std::string Render(int percent, double elapsedSeconds) const;

 private:
  std::FILE* out_;
  bool terminal_;
  std::string label_;
  uint64_t total_ = 0;
  int lastPercent_ = -1;
  int lastDecile_ = -1;
  bool lineOpen_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace stb::cli
