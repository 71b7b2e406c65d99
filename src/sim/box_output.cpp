#include <vector>

#include "sim/box_context.h"

namespace stb::sim {

bool SendRaw(BoxContext& ctx, const uint8_t* data, size_t n) {
  std::vector<uint8_t> bytes(data, data + n);
  if (const size_t changed = ctx.faults.CorruptRandom(bytes.data(), bytes.size()); changed > 0)
    ctx.log.Printf("fault corrupt-random: %zu of %zu bytes changed", changed, n);
  if (ctx.line.Write(bytes.data(), bytes.size())) return true;
  if (!ctx.line.Stopping())
    ctx.log.Printf("line blocked: %zu bytes not sent (nobody reads the slave)", n);
  return false;
}

bool SendLetter(BoxContext& ctx, char letter) {
  const uint8_t b = static_cast<uint8_t>(letter);
  return SendRaw(ctx, &b, 1);
}

}  // namespace stb::sim
