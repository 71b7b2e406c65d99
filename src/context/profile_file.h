// Private-profile (INI) files: sections and keys compared without case, the first
// match wins, a write replaces the value in place and keeps every other line byte for
// byte, and the file is replaced atomically (temporary file beside it, then rename).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stb {

// One settings file in memory: read once, queried, changed, written back once.
class CProfileFile {
 public:
  enum class Status {
    kMissing,  // no such file: an empty profile; a save creates it
    kOk,       // read
    kError,    // there but not readable (permissions, not a regular file, too large):
               // queried as empty, and never written over, so no line of it is lost
  };

  // Reads path. Never throws; the result is also kept in GetStatus().
  Status Load(const std::string& path);
  Status GetStatus() const { return status_; }
  const std::string& Path() const { return path_; }
  // Why the last Load or Save failed, in the operating system's words; empty if it did not.
  const std::string& Error() const { return error_; }

  // The value of key in section (blanks around it dropped, and one pair of matching
  // quotes, as the Windows reader does), or nothing when section or key is missing.
  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  // A decimal integer: an optional sign and digits, the way GetPrivateProfileInt reads
  // it. A missing key or an empty value gives fallback; a value that does not begin
  // with a number gives 0.
  int GetInt(const std::string& section, const std::string& key, int fallback) const;
  // The keys of the first section of that name with their values, in file order; a
  // key that occurs twice is listed once, with its first value.
  std::vector<std::pair<std::string, std::string>> Entries(const std::string& section) const;

  // key=value into section: an existing line of the key gets the new value (its key
  // spelling, indentation and line end kept), else a line is added behind the
  // section's last entry, else the section is added at the end.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  // Writes the lines back atomically when something changed or the file is missing.
  // Refuses (false) after a Load that gave kError. A symlink is followed: its target
  // is replaced, the link stays.
  bool Save();

 private:
  struct Line {
    std::string text;  // without the line end
    std::string end;   // "\n", "\r\n" or "" for a last line without one
  };
  std::string ParseText(size_t index) const;  // the line without a leading UTF-8 BOM
  std::string LineEnd() const;

  std::string path_;
  std::vector<Line> lines_;
  Status status_ = Status::kMissing;
  bool changed_ = false;
  std::string error_;
};

// One-shot helpers on CProfileFile.
std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key);
int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int fallback);
// Returns false when the file cannot be written (the old file then stays as it was).
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace stb
