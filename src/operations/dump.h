#pragma once

#include <cstdint>
#include <string>

namespace stb {

int RunDump();
int DumpAllcode(const std::string& fileName);
int DumpChunk(uint32_t slot, const std::string& fileName);
// Writes through a temporary file beside fileName, renamed over it only when
// complete, so a failed or cancelled dump never replaces a good file.
int DumpToFile(const std::string& fileName, uint32_t start, uint32_t length);

}  // namespace stb
