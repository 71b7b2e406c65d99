// Opening a file the tool reads (an image, a chunk file): never blocks, whatever the
// path names, and takes only regular files. A FIFO without a writer would otherwise
// hang the open forever, and a device would be read as if it were firmware.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace stb {

// Opens path read-only. Returns the descriptor and the file's size, or -1 with why
// set to the errno of the failure, or to err::kNotRegularFile when path names
// something other than a regular file (a directory, a FIFO, a device, a socket).
int OpenInputFile(const std::string& path, uint64_t& size, int& why);
// The same as a stream for binary reads; null on failure.
std::FILE* OpenInputStream(const std::string& path);

// A short text for why: the tool's text for err::kNotRegularFile, else strerror.
std::string InputErrorText(int why);

}  // namespace stb
