// Faults the box can be told to commit, each off by default; and their state while
// the box runs (reply counter, once-only faults, the random source).
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace stb::sim {

struct BoxFaults {
  // Bytes of noise in front of every packet the box sends (0 = none).
  uint32_t noiseBytes = 0;
  // Packet replies counted from 1 over the box's life: these get a wrong header CRC,
  // a wrong payload CRC, or are not sent at all.
  std::set<uint32_t> corruptHeaderCrc;
  std::set<uint32_t> corruptPayloadCrc;
  std::set<uint32_t> dropReply;
  // Command word ("address", "burn", ...) -> value of the Error status it is answered
  // with (legacy boxes answer 'E' where a letter is due).
  std::map<std::string, uint32_t> errorFor;
  // Echoes the typed text but never answers the identification text.
  bool silentHandshake = false;
  // The burn reports some progress, then fails with 'E'; the flash stays as it was.
  bool burnFails = false;
  // The request for this dump data packet is answered with Done (0 = off).
  uint32_t dumpDoneAt = 0;
  bool dumpTotalZero = false;
  // The first request for this dump data packet is answered with the packet before it.
  uint32_t dumpWrongNumberAt = 0;
  // Fraction (0..1) of all bytes the box sends that are changed at random.
  double corruptFraction = 0.0;

  // Packet box, burn and transfer replies: the Ack of "burn" is not sent, or sent
  // with a wrong header CRC, while the burn goes on (a repeat gets it whole).
  bool burnAckLost = false;
  bool burnAckGarbled = false;
  // "transfer" is answered with Done (no transfer is opened, its data packets go
  // unanswered) or with Working (and so is every data packet and request after it).
  bool transferDone = false;
  bool transferWorking = false;

  // Legacy block dump (protocol 32 to 47): the Nth block the box sends, counted from 1
  // over its life, carries its index or its length with one bit flipped (0 = off). Its
  // header CRCs match what it sends, so only the tool's own checks can catch it.
  uint32_t blockIndexFlipAt = 0;
  uint32_t blockIndexFlipBit = 16;
  uint32_t blockLengthFlipAt = 0;
  uint32_t blockLengthFlipBit = 12;
};

// Parses one "NAME[=VALUE]" fault into faults; false with a message on bad input.
bool ParseFault(const std::string& text, BoxFaults& faults, std::string& error);
// Each fault name with its value syntax and meaning, for --help.
std::vector<std::pair<std::string, std::string>> FaultDescriptions();

// Parses decimal or 0x-prefixed hexadecimal; false on anything else or overflow.
bool ParseNumber(const std::string& text, uint64_t& value);

class FaultState {
 public:
  FaultState(const BoxFaults& faults, uint32_t seed);

  const BoxFaults& Config() const { return faults_; }
  // Numbers the next packet reply (from 1).
  uint32_t NextReply() { return ++replies_; }
  uint32_t Replies() const { return replies_; }
  bool DropReply(uint32_t n) const { return faults_.dropReply.count(n) != 0; }
  bool CorruptHeader(uint32_t n) const { return faults_.corruptHeaderCrc.count(n) != 0; }
  bool CorruptPayload(uint32_t n) const { return faults_.corruptPayloadCrc.count(n) != 0; }
  // The noise bytes to put in front of a packet (empty when the fault is off).
  std::vector<uint8_t> Noise();
  // Changes the configured fraction of the bytes; returns how many were changed.
  size_t CorruptRandom(uint8_t* data, size_t n);
  // True (once) when the request for packet n should get the wrong packet.
  bool TakeWrongDumpNumber(uint32_t n);
  bool ErrorFor(const std::string& command, uint32_t& value) const;
  // Numbers the next block of a legacy block dump (from 1).
  uint32_t NextBlock() { return ++blocksSent_; }

 private:
  BoxFaults faults_;
  std::mt19937 rng_;
  uint32_t replies_ = 0;
  bool wrongNumberUsed_ = false;
  uint32_t blocksSent_ = 0;
};

}  // namespace stb::sim
