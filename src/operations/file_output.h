// Writing a file so that a failed or cancelled write never replaces a good one, and
// the rules for where such a write may land.
#pragma once

#include <cstdint>
#include <string>

namespace stb {

// Where a write to path lands: path itself, or the file that its chain of symbolic
// links finally names (which need not exist yet; a relative link is taken from the
// link's folder). 0, or the errno of a link that cannot be read (ELOOP for a chain
// that does not end).
int ResolveOutputTarget(const std::string& path, std::string& target);

// 0 when a write may replace what target holds: nothing yet, or a regular file;
// err::kNotRegularFile for anything else (a device, a FIFO, a directory, a socket);
// the errno when it cannot be looked at.
int CheckOutputTarget(const std::string& target);

// True when writes to a and b would land in the same file: by device and inode where
// it exists, else by the normalised absolute path.
bool SameOutputFile(const std::string& a, const std::string& b);

// Writes the bytes to a temporary file beside the write's final target (symbolic
// links are followed and kept) and renames it over the target only when every byte
// is on disk. A replaced file keeps its mode and, where allowed, its owner. Returns
// 0, 36 (cannot create), 38 (write failed) or err::kNotRegularFile (the target is
// there and is no regular file: nothing is touched).
int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size);

}  // namespace stb
