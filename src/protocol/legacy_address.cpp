// Address, move and reboot: a typed line and at most one answer letter.
#include <cstdio>

#include "context/error_table.h"
#include "protocol/legacy.h"
#include "protocol/legacy_common.h"

namespace stb {

int LegacySetAddress(uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "address %u\r", address);
  if (int rc = legacy::StartCommand(text); rc != 0) return rc;
  return legacy::ReadAcceptance(1000);
}

int LegacyMove(uint32_t first, uint32_t second) {
  char text[48];
  std::snprintf(text, sizeof text, "move %u %u\r", first, second);
  if (int rc = legacy::StartCommand(text); rc != 0) return rc;
  // Moving copies flash on the box: it answers only when done.
  return legacy::ReadAcceptance(10000);
}

int LegacyReboot() {
  // Nothing comes back: the box restarts as soon as the line is complete.
  return legacy::TypeCommand("reboot\r");
}

}  // namespace stb
