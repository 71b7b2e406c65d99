// JSON string quoting for the command line's machine-readable output.
#pragma once

#include <string>

namespace stb::cli {

// s as a JSON string literal, quotes included. Bytes that are not valid UTF-8 (the
// box's texts can hold anything) become U+FFFD so the output always parses.
std::string JsonString(const std::string& s);

}  // namespace stb::cli
