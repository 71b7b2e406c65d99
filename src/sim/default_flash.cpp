// The built-in flash: a realistic 1 MiB chain of the chunks a box carries.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/box_crc.h"
#include "sim/box_sim.h"
#include "sim/chunk_chain.h"

namespace stb::sim {

namespace {

enum class Fill { Code, Picture, Records, Mixed };

struct ChunkSpec {
  uint32_t id;
  uint32_t span;  // to the next chunk; 0 for the last
  uint32_t dataSize;
  Fill fill;
  const char* name;
  const char* version;
  const char* info;
};

constexpr uint32_t kFlashSize = 0x100000;

constexpr ChunkSpec kChunks[] = {
    {0xE3000010, 0x10000, 0xA000, Fill::Code, "Bootloader", "B1.07", "KVO loader"},
    {0x02FD0100, 0x8000, 0x5000, Fill::Picture, "Logo Boot", "1.0", "720x576"},
    {0x02FD0200, 0x8000, 0x3C00, Fill::Picture, "Logo Radio", "1.0", "720x576"},
    {0x02FD0300, 0x8000, 0x2800, Fill::Picture, "Logo Menu", "1.1", "720x576"},
    {0x03FC0100, 0x18000, 0x12000, Fill::Records, "Default DB", "2024-03", "Astra 19.2E"},
    {0x01FE0100, 0xB0000, 0x9C000, Fill::Mixed, "Application", "V3.2.18", "Release"},
    {0x04FB0100, 0, 0x2000, Fill::Records, "User DB", "1", "Favourites"},
};

// Deterministic, so every built-in flash is the same byte for byte.
struct XorShift {
  uint32_t state;
  uint8_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint8_t>(state >> 11);
  }
};

void FillData(uint8_t* out, uint32_t n, Fill fill, uint32_t seed) {
  XorShift rng{seed | 1u};
  switch (fill) {
    case Fill::Code:
      for (uint32_t i = 0; i < n; ++i) out[i] = rng.Next();
      break;
    case Fill::Picture:
      // Bands of colour with a little dither: compresses well, like a real logo.
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t row = i / 720;
        out[i] = static_cast<uint8_t>((row * 3 + (i % 720) / 90) ^ ((rng.Next() & 0x0F) == 0));
      }
      break;
    case Fill::Records: {
      uint32_t i = 0;
      for (uint32_t r = 0; i < n; ++r) {
        char record[64];
        const int len = std::snprintf(record, sizeof record, "CH%05u|%5u MHz|SR %5u|%c|SID %04X\n",
                                      r, 10700 + (r * 37) % 2050, 22000 + (r % 8) * 500,
                                      (r & 1) ? 'H' : 'V', (r * 131) & 0xFFFF);
        for (int k = 0; k < len && i < n; ++k) out[i++] = static_cast<uint8_t>(record[k]);
      }
      break;
    }
    case Fill::Mixed:
      // Code with tables of text, and erased runs inside the data as linkers leave them.
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t block = i / 0x4000;
        if (block % 5 == 3)
          out[i] = static_cast<uint8_t>("MENU_ITEM_LANGUAGE_TIMER_EPG_"[i % 29]);
        else if (block % 7 == 6)
          out[i] = 0xFF;
        else
          out[i] = rng.Next();
      }
      break;
  }
}

void PutText(uint8_t* field, const char* text) {
  std::memset(field, 0, 16);
  std::memcpy(field, text, std::min<size_t>(std::strlen(text), 15));
}

}  // namespace

std::vector<uint8_t> BuildDefaultFlash() {
  std::vector<uint8_t> flash(kFlashSize, 0xFF);
  uint32_t pos = 0;
  for (const ChunkSpec& c : kChunks) {
    uint8_t* h = flash.data() + pos;
    const uint32_t length = 112 + c.dataSize;
    PutBe32(h, c.id);
    PutBe32(h + 4, length);
    PutBe32(h + 8, c.span);
    PutText(h + 16, c.name);
    PutText(h + 32, c.version);
    PutText(h + 48, c.info);
    FillData(h + kHeaderBytes, c.dataSize, c.fill, c.id);
    PutBe32(h + 12, BoxCrc(h + 16, length));
    pos += c.span;
  }
  return flash;
}

}  // namespace stb::sim
