#include "sim/faults.h"

#include <cerrno>
#include <cstdlib>

namespace stb::sim {

bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  value = v;
  return true;
}

namespace {

bool ParseCount(const std::string& name, const std::string& value, uint32_t& out,
                std::string& error, bool zeroAllowed = false) {
  uint64_t v = 0;
  if (!ParseNumber(value, v) || v > 0xFFFFFFFFull || (v == 0 && !zeroAllowed)) {
    error = "fault " + name + ": '" + value + "' is not a " +
            (zeroAllowed ? "number" : "positive number");
    return false;
  }
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

bool ParseFault(const std::string& text, BoxFaults& faults, std::string& error) {
  const size_t eq = text.find('=');
  const std::string name = text.substr(0, eq);
  const bool hasValue = eq != std::string::npos;
  const std::string value = hasValue ? text.substr(eq + 1) : "";
  auto needsValue = [&]() {
    if (!hasValue) error = "fault " + name + " needs a value (" + name + "=...)";
    return hasValue;
  };
  auto noValue = [&]() {
    if (hasValue) error = "fault " + name + " takes no value";
    return !hasValue;
  };
  uint32_t n = 0;
  if (name == "noise") {
    if (!hasValue) {
      faults.noiseBytes = 8;
      return true;
    }
    if (!ParseCount(name, value, n, error)) return false;
    if (n > 4096) {
      error = "fault noise: at most 4096 bytes";
      return false;
    }
    faults.noiseBytes = n;
    return true;
  }
  if (name == "corrupt-header-crc" || name == "corrupt-payload-crc" || name == "drop-reply") {
    if (!needsValue() || !ParseCount(name, value, n, error)) return false;
    (name == "drop-reply"           ? faults.dropReply
     : name == "corrupt-header-crc" ? faults.corruptHeaderCrc
                                    : faults.corruptPayloadCrc)
        .insert(n);
    return true;
  }
  if (name == "error") {
    if (!needsValue()) return false;
    const size_t colon = value.find(':');
    uint64_t code = 0;
    if (colon == std::string::npos || colon == 0 || !ParseNumber(value.substr(colon + 1), code) ||
        code > 0xFFFFFFFFull) {
      error = "fault error: expected COMMAND:VALUE, e.g. error=address:0x10003";
      return false;
    }
    faults.errorFor[value.substr(0, colon)] = static_cast<uint32_t>(code);
    return true;
  }
  auto flag = [&](bool& field) {
    if (!noValue()) return false;
    field = true;
    return true;
  };
  if (name == "no-handshake") return flag(faults.silentHandshake);
  if (name == "burn-fail") return flag(faults.burnFails);
  if (name == "dump-total-zero") return flag(faults.dumpTotalZero);
  if (name == "dump-done" || name == "dump-wrong-number") {
    n = name == "dump-done" ? 1 : 2;
    if (hasValue && !ParseCount(name, value, n, error)) return false;
    if (name == "dump-wrong-number" && n < 2) {
      error = "fault dump-wrong-number: the packet must be 2 or later";
      return false;
    }
    (name == "dump-done" ? faults.dumpDoneAt : faults.dumpWrongNumberAt) = n;
    return true;
  }
  if (name == "burn-ack-lost") return flag(faults.burnAckLost);
  if (name == "burn-ack-garbled") return flag(faults.burnAckGarbled);
  if (name == "transfer-done") return flag(faults.transferDone);
  if (name == "transfer-working") return flag(faults.transferWorking);
  if (name == "block-index-flip" || name == "block-length-flip") {
    const bool index = name == "block-index-flip";
    if (!needsValue()) return false;
    const size_t colon = value.find(':');
    uint32_t bit = index ? faults.blockIndexFlipBit : faults.blockLengthFlipBit;
    if (!ParseCount(name, value.substr(0, colon), n, error)) return false;
    if (colon != std::string::npos &&
        (!ParseCount(name, value.substr(colon + 1), bit, error, true) || bit > 31)) {
      error = "fault " + name + ": expected N or N:BIT, BIT from 0 to 31";
      return false;
    }
    (index ? faults.blockIndexFlipAt : faults.blockLengthFlipAt) = n;
    (index ? faults.blockIndexFlipBit : faults.blockLengthFlipBit) = bit;
    return true;
  }
  if (name == "corrupt-random") {
    if (!needsValue()) return false;
    char* end = nullptr;
    const double f = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(f >= 0.0 && f <= 1.0)) {
      error = "fault corrupt-random: expected a fraction from 0 to 1";
      return false;
    }
    faults.corruptFraction = f;
    return true;
  }
  error = "unknown fault '" + name + "' (see --help)";
  return false;
}

std::vector<std::pair<std::string, std::string>> FaultDescriptions() {
  return {
      {"noise[=COUNT]", "COUNT bytes of noise (default 8) before every packet the box sends"},
      {"corrupt-header-crc=N", "the Nth packet the box sends carries a wrong header CRC"},
      {"corrupt-payload-crc=N", "the Nth packet the box sends carries a wrong payload CRC"},
      {"drop-reply=N", "the Nth packet the box sends is not sent"},
      {"error=COMMAND:VALUE",
       "answer COMMAND (version, chunk, address, move, burn, reboot, dump, transfer) with "
       "Status Error VALUE; a legacy box answers 'E' where a letter is due"},
      {"no-handshake", "echo the typed text but never answer the identification text"},
      {"burn-fail", "report some burn progress, then fail with 'E'; the flash is not changed"},
      {"dump-done[=N]", "answer the request for dump data packet N (default 1) with Done"},
      {"dump-total-zero", "report a dump total of 0"},
      {"dump-wrong-number[=N]",
       "answer the first request for dump packet N (default 2) with packet N-1"},
      {"corrupt-random=FRACTION", "change that fraction (0..1) of all bytes sent, see --seed"},
      {"burn-ack-lost", "do not send the Ack of \"burn\"; the burn goes on, a repeat gets it"},
      {"burn-ack-garbled",
       "send the Ack of \"burn\" with a wrong header CRC; the burn goes on, a repeat gets it"},
      {"transfer-done",
       "answer \"transfer\" with Done, open no transfer, leave its data unanswered"},
      {"transfer-working",
       "answer \"transfer\" with Working, and every data packet and request after it"},
      {"block-index-flip=N[:BIT]",
       "legacy block dump (protocol 32 to 47): the Nth block sent carries its index with bit "
       "BIT (default 16) flipped, its header CRCs matching"},
      {"block-length-flip=N[:BIT]",
       "legacy block dump (protocol 32 to 47): the Nth block sent announces its length with "
       "bit BIT (default 12) flipped, its header CRCs matching; the body is sent unchanged"},
  };
}

FaultState::FaultState(const BoxFaults& faults, uint32_t seed) : faults_(faults), rng_(seed) {}

std::vector<uint8_t> FaultState::Noise() {
  std::vector<uint8_t> noise(faults_.noiseBytes);
  std::uniform_int_distribution<int> byte(0, 255);
  for (uint8_t& b : noise) {
    b = static_cast<uint8_t>(byte(rng_));
    // An 'H' could start a false magic; keep one only as the last byte, where the
    // packet's own "HEAD" has to restart the match.
    if (b == 'H') b = 'h';
  }
  if (!noise.empty() && (rng_() & 1) != 0) noise.back() = 'H';
  return noise;
}

size_t FaultState::CorruptRandom(uint8_t* data, size_t n) {
  if (faults_.corruptFraction <= 0.0) return 0;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::uniform_int_distribution<int> flip(1, 255);
  size_t changed = 0;
  for (size_t i = 0; i < n; ++i) {
    if (chance(rng_) < faults_.corruptFraction) {
      data[i] ^= static_cast<uint8_t>(flip(rng_));
      ++changed;
    }
  }
  return changed;
}

bool FaultState::TakeWrongDumpNumber(uint32_t n) {
  if (wrongNumberUsed_ || faults_.dumpWrongNumberAt == 0 || n != faults_.dumpWrongNumberAt)
    return false;
  wrongNumberUsed_ = true;
  return true;
}

bool FaultState::ErrorFor(const std::string& command, uint32_t& value) const {
  const auto it = faults_.errorFor.find(command);
  if (it == faults_.errorFor.end()) return false;
  value = it->second;
  return true;
}

}  // namespace stb::sim
