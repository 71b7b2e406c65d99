#include "context/upgrade_context.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>

namespace stb {

namespace {
std::unique_ptr<CUpgradeContext>& ContextSlot() {
  static std::unique_ptr<CUpgradeContext> context;
  return context;
}

// One ChunkMask item as an unsigned base-16 number, the way strtoul reads it, but
// with 32-bit overflow giving 0xFFFFFFFF whatever the width of long.
uint32_t ConvertMaskItem(const char* begin, const char* end) {
  const char* p = begin;
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && p + 2 < end &&
      std::isxdigit(static_cast<unsigned char>(p[2]))) {
    p += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; p < end && std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
    const int c = static_cast<unsigned char>(*p);
    const int digit = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const uint32_t v = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - v) : v;
}
}  // namespace

CUpgradeContext* GetContext() {
  std::unique_ptr<CUpgradeContext>& slot = ContextSlot();
  if (!slot) slot.reset(new (std::nothrow) CUpgradeContext());
  return slot.get();
}

void DestroyContext() {
  ContextSlot().reset();
}

SerialSettings& GetSerialSettings() {
  static SerialSettings settings;
  return settings;
}

std::atomic<int32_t>& CancelRequested() {
  static std::atomic<int32_t> flag{0};
  return flag;
}

int ParseChunkMask(const char* text) {
  CUpgradeContext* context = GetContext();
  if (context == nullptr) return 1;
  context->ChunkMaskCount = 0;
  if (text == nullptr) return 1;
  const char* itemStart = text;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != ',') continue;
    // The list has room for 16 identifiers (more items than that are not ours to keep):
    // the first 16 items are kept, further items are dropped without an error.
    if (context->ChunkMaskCount < kChunkMaskCapacity) {
      context->ChunkMask[context->ChunkMaskCount++] = ConvertMaskItem(itemStart, p);
    }
    itemStart = p + 1;
  }
  return 1;
}

int ResetSelections(uint32_t chunkCount) {
  CUpgradeContext* context = GetContext();
  if (context == nullptr) return 1;
  // A table can announce more chunks than Selections has entries; never go past them.
  const uint64_t entries = std::min<uint64_t>(uint64_t{chunkCount} + 2, kSelectionCount);
  for (uint64_t i = 0; i < entries; ++i) {
    ChunkSelection& s = context->Selections[i];
    s.FileName.clear();
    s.FileOffset = 0;
    s.FileLength = 0;
    s.IsImageChunk = 0;
  }
  return 1;
}

}  // namespace stb
