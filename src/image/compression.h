// LZMA compression of a download for boxes of protocol 3.0 and later.
#pragma once

#include <cstdint>
#include <string>

namespace stb {

// 0 when data now holds the compressed form and sizeOut its count (always fewer
// bytes than size); otherwise an error code, with data and sizeOut unchanged.
int PrepareCompressedTransfer(uint8_t* data, int32_t size, int32_t& sizeOut);
// Without an executable lzma.exe (external_encoder.h) the data are compressed
// in-process with liblzma into the same .lzma form.
// Runs lzma.exe beside the executable on the two files; false when it cannot start.
// Waits at most EncoderTimeout(); the output of a run that did not end cleanly is
// removed, so it is never taken for a result.
bool RunEncoder(const std::string& inputPath, const std::string& outputPath);

}  // namespace stb
