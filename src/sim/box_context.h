// What every part of the box's loader works with while it serves.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "sim/box_log.h"
#include "sim/box_sim.h"
#include "sim/faults.h"
#include "sim/flash_model.h"
#include "sim/pty_line.h"

namespace stb::sim {

struct BoxCounters {
  std::atomic<uint32_t> handshakes{0};
  std::atomic<uint32_t> commandsExecuted{0};
  std::atomic<uint32_t> repeatsAnswered{0};
  std::atomic<uint32_t> framingErrors{0};
  std::atomic<uint32_t> burns{0};
  std::atomic<uint32_t> reboots{0};
  std::atomic<uint32_t> repliesSent{0};
};

struct BoxContext {
  const BoxOptions& options;
  PtyLine& line;
  FlashModel& flash;
  FaultState& faults;
  const BoxLog& log;
  BoxCounters& counters;

  bool IsPacketBox() const { return options.protocol >= 0x30; }
  // The version the box reports in its version reply.
  uint32_t ReportedVersion() const {
    return options.reportVersion >= 0 ? static_cast<uint32_t>(options.reportVersion)
                                      : options.protocol;
  }
};

// Every byte the box sends goes through here (random corruption applies).
bool SendRaw(BoxContext& ctx, const uint8_t* data, size_t n);
inline bool SendRaw(BoxContext& ctx, const std::vector<uint8_t>& bytes) {
  return SendRaw(ctx, bytes.data(), bytes.size());
}
bool SendLetter(BoxContext& ctx, char letter);

}  // namespace stb::sim
