// Writing a file so that a failed or cancelled write never replaces a good one.
#pragma once

#include <cstdint>
#include <string>

namespace stb {

// Writes the bytes to a temporary file beside path and renames it over path only
// when every byte is on disk. Returns 0, 36 (cannot create) or 38 (write failed).
int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size);

}  // namespace stb
