// The box's --log lines: every exchange and every decision, one line each.
#pragma once

#include <functional>
#include <string>

namespace stb::sim {

class BoxLog {
 public:
  BoxLog(bool enabled, std::function<void(const std::string&)> sink);
  bool Enabled() const { return enabled_; }
  void Line(const std::string& text) const;
  void Printf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

 private:
  bool enabled_;
  std::function<void(const std::string&)> sink_;
};

// A command text with its control characters shown, for log lines.
std::string Printable(const std::string& text);

}  // namespace stb::sim
