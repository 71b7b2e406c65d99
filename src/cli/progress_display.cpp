#include "cli/progress_display.h"

#include <algorithm>

namespace stb::cli {

std::string ProgressDisplay::FormatBytes(uint64_t bytes) {
  char buffer[32];
  if (bytes < 1024) {
    std::snprintf(buffer, sizeof buffer, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(buffer, sizeof buffer, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f MiB", bytes / (1024.0 * 1024.0));
  }
  return buffer;
}

void ProgressDisplay::Begin(const std::string& label, uint64_t totalBytes) {
  Finish();
  label_ = label;
  total_ = totalBytes;
  lastPercent_ = -1;
  lastDecile_ = -1;
  start_ = std::chrono::steady_clock::now();
}

std::string ProgressDisplay::Render(int percent, double elapsed) const {
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "]";
  char text[160];
  std::snprintf(text, sizeof text, "%s %3d%%", bar.c_str(), percent);
  std::string line = text;
  if (total_ > 0) {
    const uint64_t done = total_ * static_cast<uint64_t>(percent) / 100;
    line += "  " + FormatBytes(done) + " / " + FormatBytes(total_);
    if (elapsed > 0.2 && done > 0) {
      const double rate = done / elapsed;
      line += "  " + FormatBytes(static_cast<uint64_t>(rate)) + "/s";
      if (percent < 100) {
        const int left = static_cast<int>((total_ - done) / rate);
        std::snprintf(text, sizeof text, "  %d:%02d left", left / 60, left % 60);
        line += text;
      }
    }
  }
  return line;
}

void ProgressDisplay::Update(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s %s", label_.c_str(), Render(percent, elapsed).c_str());
    lineOpen_ = true;
  } else {
    const int decile = percent / 10;
    if (decile == lastDecile_) return;
    lastDecile_ = decile;
    std::fprintf(out_, "%s %s\n", label_.c_str(), Render(percent, elapsed).c_str());
  }
  std::fflush(out_);
}

void ProgressDisplay::Finish() {
  if (lineOpen_) {
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  lineOpen_ = false;
}

}  // namespace stb::cli
