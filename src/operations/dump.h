#pragma once

#include <cstdint>
#include <string>

namespace stb {

int RunDump();
int DumpAllcode(const std::string& fileName);
// err::kChunkRange, before the box is asked, for a chunk whose flash range the table
// refuses or which is empty.
int DumpChunk(uint32_t slot, const std::string& fileName);
// Writes through a temporary file beside fileName, renamed over it only when
// complete, so a failed or cancelled dump never replaces a good file. A box that
// delivers nothing is err::kDumpEmpty; another length than a nonzero length asked for
// is err::kDumpLength.
int DumpToFile(const std::string& fileName, uint32_t start, uint32_t length);

}  // namespace stb
