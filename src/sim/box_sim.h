// The emulated set-top box: the boot loader of either generation on a pseudo-terminal,
// with a flash model and fault injection. Tests, benchmarks and the demo mode start it
// in-process and point the tool at SlavePath(); stb-box-sim wraps it for the shell.
//
// Upgrade model:
//   "address A"   sets the write position A in a staging copy of the flash (taken from
//                 the flash when the session holds none).
//   downloads     put their bytes (after decompression) at the write position, which
//                 advances by their count; a transfer that does not complete changes
//                 nothing.
//   "move id n"   keeps the bytes at the write position (the chunk there must be id,
//                 else 0x10003) and advances by n.
//   "burn"        commits the staging copy to the flash, then writes the save file.
//   "reboot"      ends the session (staging copy, write position, exchange state); the
//                 box waits for a new handshake. A new handshake ends it as well.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace stb::sim {

struct BoxOptions {
  // 48 (0x30) and above: packet box; below: legacy box (stream dump below 32, block
  // dump at 32, block dump with header CRCs at 33 to 47).
  uint32_t protocol = 0x30;
  // The version the box reports when it differs from its handshake (-1: the protocol).
  // A legacy box sends its version marker only for versions 33 and above, so a legacy
  // box reporting 0 (or 16, 32) sends none.
  int64_t reportVersion = -1;
  // The flash: these bytes when given, else the file, else the built-in flash. It is
  // padded with 0xFF to its flash size (512 KiB, 1 MiB or 2 MiB).
  std::vector<uint8_t> flash;
  std::string flashFile;
  // Flash type byte of the chunk table (-1: chosen from the flash size).
  int flashType = -1;
  // Written (atomically) after every burn.
  std::string saveFlashFile;
  // A symbolic link to the slave device, removed again at Stop.
  std::string linkPath;
  // Data bytes per dump packet, 1 to 2040.
  uint32_t dumpPacket = 2040;
  // Line rate for pacing (10 bits per byte, both directions); 0 = as fast as possible.
  uint32_t baud = 0;
  // Every exchange as a line: to logSink when set, else to stderr.
  bool log = false;
  std::function<void(const std::string&)> logSink;
  BoxFaults faults;
  uint32_t seed = 1;
};

// What the box has done so far, for tests.
struct BoxStats {
  uint32_t handshakes = 0;
  uint32_t commandsExecuted = 0;  // commands run (repeats not counted)
  uint32_t repeatsAnswered = 0;   // repeated commands answered with the reply kept
  uint32_t framingErrors = 0;     // bad packets received
  uint32_t burns = 0;             // burns committed to the flash
  uint32_t reboots = 0;
  uint32_t repliesSent = 0;  // packets sent (dropped ones included)
};

class BoxSimulator {
 public:
  explicit BoxSimulator(BoxOptions options);
  ~BoxSimulator();
  BoxSimulator(const BoxSimulator&) = delete;
  BoxSimulator& operator=(const BoxSimulator&) = delete;

  // Checks the options, loads the flash, opens the pseudo-terminal and starts serving
  // on a thread of its own. False with LastError() on failure.
  bool Start();
  const std::string& LastError() const;
  std::string SlavePath() const;
  // Ends the serving thread and closes the pseudo-terminal; safe to call twice.
  void Stop();
  bool Running() const;

  // A copy of the flash as it is now (the serving thread changes it on a burn).
  std::vector<uint8_t> Flash() const;
  BoxStats Stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The built-in flash (1 MiB): boot loader 0xE3000010, logos 0x02FD0100, 0x02FD0200 and
// 0x02FD0300, default database 0x03FC0100, application 0x01FE0100 and user database
// 0x04FB0100 (last), with correct CRCs and 0xFF up to each next chunk. A valid image
// file as well.
std::vector<uint8_t> BuildDefaultFlash();

}  // namespace stb::sim
