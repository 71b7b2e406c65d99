#include "sim/box_log.h"

#include <cstdarg>
#include <cstdio>

namespace stb::sim {

BoxLog::BoxLog(bool enabled, std::function<void(const std::string&)> sink)
    : enabled_(enabled), sink_(std::move(sink)) {}

void BoxLog::Line(const std::string& text) const {
  if (!enabled_) return;
  if (sink_) {
    sink_(text);
    return;
  }
  std::fprintf(stderr, "box: %s\n", text.c_str());
}

void BoxLog::Printf(const char* format, ...) const {
  if (!enabled_) return;
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  Line(buffer);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace stb::sim
