// lzma.exe beside the tool: where it is looked for, where its work files go, and
// how long it may run. The setters are seams for tests; empty/zero restores the rule.
#pragma once

#include <chrono>
#include <string>

namespace stb {

// The directory that holds lzma.exe, ending in '/': GetProgramDirectory() unless set.
std::string EncoderDirectory();
void SetEncoderDirectory(const std::string& dir);
// The encoder's path when it is there and executable, else empty.
std::string ExternalEncoderPath();

// The private folder for temp.in and temp.7z, made once per process (a forked child
// gets its own); empty when it cannot be made.
std::string CompressionWorkDirectory();

inline constexpr std::chrono::milliseconds kDefaultEncoderTimeout{60000};
std::chrono::milliseconds EncoderTimeout();
void SetEncoderTimeout(std::chrono::milliseconds limit);

}  // namespace stb
