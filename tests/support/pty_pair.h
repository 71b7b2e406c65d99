// A pseudo-terminal with both ends in the test process: the tool opens SlavePath()
// through CSerialPort, the test plays the box on the master end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stb::test {

class PtyPair {
 public:
  PtyPair();  // check Ok() afterwards
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0; }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  // Writes all bytes to the master end (waiting for room); false on failure.
  bool Write(const std::vector<uint8_t>& bytes);
  bool Write(const std::string& bytes);
  // Reads up to n bytes that the tool wrote, waiting at most timeoutMs (real time).
  std::vector<uint8_t> Read(size_t n, int timeoutMs);
  // Everything the tool wrote that is waiting now.
  std::vector<uint8_t> Drain();
  // Closes the master end: the tool's side sees a hang-up.
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace stb::test
