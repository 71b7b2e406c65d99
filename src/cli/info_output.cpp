#include "cli/info_output.h"

#include <cstdio>

#include "cli/json_text.h"
#include "operations/chunk_text.h"

namespace stb::cli {

namespace {
std::string Format(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

uint32_t Count(const TargetChunkTable& table) {
  return table.chunkCount < kMaxTableChunks ? table.chunkCount : kMaxTableChunks;
}
}  // namespace

std::string InfoText(uint32_t version, const TargetChunkTable& table) {
  std::string out = Format("Protocol version: %u.%u (%u)\n", version >> 4, version & 0xF, version);
  out += Format("Flash: %u bytes (type info 0x%02X)\n", table.flashSize, table.flashInfo);
  out += Format("Chunks: %u\n", table.chunkCount);
  out += Format("  %-2s %-10s %-16s %-16s %-16s %8s %10s %10s %10s\n", "#", "id", "name", "version",
                "info", "length", "nextOffset", "span", "crc");
  for (uint32_t i = 0; i < Count(table); ++i) {
    const TargetChunkInfo& c = table.chunks[i];
    out +=
        Format("  %-2u 0x%08X %-16s %-16s %-16s %8u %10u %10u 0x%08X%s\n", i, c.id,
               ChunkText(c.name).c_str(), ChunkText(c.version).c_str(), ChunkText(c.info).c_str(),
               c.length, c.nextOffset, ChunkSpan(c), c.crc, c.masked != 0 ? "  (masked)" : "");
  }
  return out;
}

std::string InfoJson(uint32_t version, const TargetChunkTable& table) {
  std::string out = Format("{\"protocolVersion\": %u, \"flashSize\": %u, \"flashInfo\": %u, ",
                           version, table.flashSize, table.flashInfo);
  out += "\"chunks\": [";
  for (uint32_t i = 0; i < Count(table); ++i) {
    const TargetChunkInfo& c = table.chunks[i];
    if (i > 0) out += ", ";
    out +=
        Format("{\"index\": %u, \"id\": %u, \"name\": ", i, c.id) + JsonString(ChunkText(c.name));
    out += ", \"version\": " + JsonString(ChunkText(c.version));
    out += ", \"info\": " + JsonString(ChunkText(c.info));
    out +=
        Format(", \"length\": %u, \"nextOffset\": %u, \"crc\": %u, \"span\": %u, \"masked\": %s}",
               c.length, c.nextOffset, c.crc, ChunkSpan(c), c.masked != 0 ? "true" : "false");
  }
  return out + "]}\n";
}

std::string ResultJson(const char* result, int32_t code, const std::string& message) {
  return Format("{\"result\": \"%s\", \"code\": %d, \"message\": ", result, code) +
         JsonString(message) + "}\n";
}

}  // namespace stb::cli
