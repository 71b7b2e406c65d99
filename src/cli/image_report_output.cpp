#include "cli/image_report_output.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/cli_options.h"
#include "image/image_verdict.h"

namespace stb::cli {

namespace {

bool IsUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80           ? 1
                     : (c >> 5) == 0x6  ? 2
                     : (c >> 4) == 0xE  ? 3
                     : (c >> 3) == 0x1E ? 4
                                        : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
    }
    i += n;
  }
  return true;
}

// Chunk texts come from the box's world, often Latin-1; keep valid UTF-8 as it is
// and read anything else as Latin-1, so the output is always valid UTF-8.
std::string AsUtf8(const std::string& s) {
  if (IsUtf8(s)) return s;
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// For the terminal: control bytes (escape sequences included) become '.'.
std::string Printable(const std::string& s) {
  std::string out = AsUtf8(s);
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) ch = '.';
  }
  return out;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char ch : AsUtf8(s)) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

const char* CrcStatusText(CrcStatus status) {
  switch (status) {
    case CrcStatus::kOk:
      return "ok";
    case CrcStatus::kBad:
      return "bad";
    case CrcStatus::kNone:
      return "none";
  }
  return "bad";
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

}  // namespace

std::string InspectVerdict(const ImageReport& report) {
  return ImageVerdictText(report);
}

int InspectExitCode(const ImageReport& report) {
  if (report.fault == ImageFault::kCannotOpen || !report.readable) return kExitUsage;
  return report.valid ? kExitSuccess : kExitFailed;
}

std::string FormatInspectText(const std::string& file, const ImageReport& report) {
  std::string out = "file: " + Printable(file) + "\n";
  if (report.fault == ImageFault::kCannotOpen) return out + InspectVerdict(report) + "\n";
  out += Format("%3s  %-10s  %-10s  %-16s  %-16s  %-16s  %10s  %10s  %-10s  %-5s  %10s\n", "#",
                "offset", "id", "name", "version", "info", "length", "nextOffset", "crc", "check",
                "size");
  for (size_t i = 0; i < report.chunks.size(); ++i) {
    const ImageChunkEntry& c = report.chunks[i];
    out += Format("%3zu  %-10" PRIu64 "  0x%08" PRIX32 "  %-16s  %-16s  %-16s  %10" PRIu32
                  "  %10" PRIu32 "  0x%08" PRIX32 "  %-5s  %10" PRIu64 "\n",
                  i, c.offset, c.id, Printable(c.name).c_str(), Printable(c.version).c_str(),
                  Printable(c.info).c_str(), c.length, c.nextOffset, c.crc,
                  CrcStatusText(c.crcStatus), c.size);
  }
  return out + (report.valid ? std::string("valid") : "invalid: " + InspectVerdict(report)) + "\n";
}

std::string FormatInspectJson(const std::string& file, const ImageReport& report) {
  std::string out =
      "{\"file\": " + JsonString(file) + ", \"valid\": " + (report.valid ? "true" : "false") +
      ", \"error\": " + (report.valid ? std::string("null") : JsonString(InspectVerdict(report))) +
      ", \"chunks\": [";
  for (size_t i = 0; i < report.chunks.size(); ++i) {
    const ImageChunkEntry& c = report.chunks[i];
    if (i > 0) out += ", ";
    out += Format("{\"offset\": %" PRIu64 ", \"id\": %" PRIu32 ", ", c.offset, c.id);
    out += "\"name\": " + JsonString(c.name) + ", \"version\": " + JsonString(c.version) +
           ", \"info\": " + JsonString(c.info);
    out += Format(", \"length\": %" PRIu32 ", \"nextOffset\": %" PRIu32 ", \"crc\": %" PRIu32
                  ", \"crcStatus\": \"%s\", \"size\": %" PRIu64 "}",
                  c.length, c.nextOffset, c.crc, CrcStatusText(c.crcStatus), c.size);
  }
  return out + "]}\n";
}

}  // namespace stb::cli
