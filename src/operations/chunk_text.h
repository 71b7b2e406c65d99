// Chunk texts as the box reported them: 16-byte fields, NUL-terminated when the
// decoder kept a terminator, never read past their field.
#pragma once

#include <cstring>
#include <string>

namespace stb {

inline std::string ChunkText(const char (&field)[16]) {
  return std::string(field, strnlen(field, sizeof field));
}

}  // namespace stb
