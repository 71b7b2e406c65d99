// The legacy loader (protocol below 3.0): typed commands, echoed by the console, answered
// with letters, big-endian numbers and raw data with CRCs.
#pragma once

#include <string>
#include <vector>

#include "sim/box_context.h"

namespace stb::sim {

class LegacySession {
 public:
  explicit LegacySession(BoxContext& ctx) : ctx_(ctx) {}

  // Runs one typed command whose echo has gone out (a reboot excepted).
  void Execute(const std::string& line);
  // "reboot" answers nothing but its echo, so the box restarts before the echo of its
  // carriage return goes out. True when it did.
  static bool IsReboot(const std::string& line);
  bool Reboot();

 private:
  void ReadInfo();
  void Address(const std::vector<std::string>& words);
  void Move(const std::vector<std::string>& words);
  void TransferRaw(const std::vector<std::string>& words);
  void Burn();
  void DumpStream();
  void DumpBlocks(uint32_t start, uint32_t length);
  // A block's header as the box sends it: its own numbers, unless a fault changes them.
  struct BlockHeader {
    uint32_t index;
    uint32_t length;
  };
  BlockHeader FaultyHeader(uint32_t index, uint32_t length);
  void Answer(char letter, const std::string& why);

  BoxContext& ctx_;
};

}  // namespace stb::sim
