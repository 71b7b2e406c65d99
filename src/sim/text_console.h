// The loader's typed command line (every character echoed, a carriage return ends the
// line) and the handshake it starts: "comtest N", then N bytes of identification text.
#pragma once

#include <cstdint>
#include <string>

#include "sim/box_context.h"

namespace stb::sim {

class TextLine {
 public:
  // Adds a typed byte. True when it was the carriage return ending a line, which is
  // then in `line` (without the return). Overlong lines are dropped whole.
  bool Add(uint8_t byte, std::string& line, const BoxLog& log);
  void Clear() {
    text_.clear();
    overflow_ = false;
  }
  bool Empty() const { return text_.empty(); }

 private:
  std::string text_;
  bool overflow_ = false;
};

// Splits a command line at blanks.
std::vector<std::string> Words(const std::string& line);
// An unsigned decimal number that fits 32 bits.
bool ParseDecimal(const std::string& word, uint32_t& value);

// A line ending in "comtest N", N from 1 to 255.
bool ParseComtest(const std::string& line, uint32_t& count);

// Reads the identification text after "comtest N" and answers it: the same bytes from a
// legacy box, their complement from a packet box. True when a session has begun.
bool AnswerIdentification(BoxContext& ctx, uint32_t count);

}  // namespace stb::sim
