// Private-profile (INI) files: sections and keys compared without case, the first
// match wins, a write replaces the value in place and keeps every other line byte for
// byte, and the file is replaced atomically.
#pragma once

#include <optional>
#include <string>

namespace stb {

// The value of key in section, or nothing when the file, section or key is missing.
// Blanks around the value are dropped, as the Windows reader does.
std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key);
// Reads a decimal integer: missing gives fallback; a value that does not begin with
// a number gives 0.
int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int fallback);
// Writes key=value into section, creating the file or section when missing.
// Returns false when the file cannot be written (the old file then stays as it was).
bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

}  // namespace stb
