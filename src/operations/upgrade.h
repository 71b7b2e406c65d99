#pragma once

#include <cstdint>
#include <string>

namespace stb {

// Bytes handed to the burn command to turn the box's progress into percent.
uint32_t& BurnSize();

int RunUpgrade();
int DownloadAllcode(const std::string& fileName, bool withFirstChunk);
int DownloadChunks();
int DownloadChunk(uint32_t slot);

}  // namespace stb
