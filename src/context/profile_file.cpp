#include "context/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace stb {

namespace {
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// A file's lines, each with its own line end, so an untouched line is written back
// exactly as it was read.
struct Line {
  std::string text;  // without the line end
  std::string end;   // "\n", "\r\n" or "" for a last line without one
};

bool ReadLines(const std::string& path, std::vector<Line>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string all = buffer.str();
  size_t pos = 0;
  while (pos < all.size()) {
    const size_t nl = all.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = all.substr(pos);
      pos = all.size();
    } else {
      line.text = all.substr(pos, nl - pos);
      line.end = "\n";
      pos = nl + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end = "\r" + line.end;
    }
    lines.push_back(std::move(line));
  }
  return true;
}

// The section name of a "[name]" line, or nothing.
std::optional<std::string> SectionOf(const std::string& text) {
  const std::string t = Trim(text);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing (comments and other lines).
std::optional<std::string> KeyOf(const std::string& text, std::string* value) {
  const std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '[') return std::nullopt;
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  if (value != nullptr) *value = Trim(t.substr(eq + 1));
  return Trim(t.substr(0, eq));
}

bool WriteAtomically(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  struct stat st {};
  // Keep the mode of the file being replaced; a new file gets the usual 0644.
  (void)fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  size_t done = 0;
  bool ok = true;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(name.data(), path.c_str()) == 0;
  if (!ok) ::unlink(name.data());
  return ok;
}
}  // namespace

std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key) {
  std::vector<Line> lines;
  if (!ReadLines(path, lines)) return std::nullopt;
  bool inSection = false;
  bool sectionSeen = false;
  for (const Line& line : lines) {
    if (auto name = SectionOf(line.text)) {
      // The first section of that name wins; later ones are not merged in.
      if (sectionSeen && inSection) return std::nullopt;
      inSection = EqualNoCase(*name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    std::string value;
    if (auto k = KeyOf(line.text, &value); k && EqualNoCase(*k, key)) return value;
  }
  return std::nullopt;
}

int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int fallback) {
  const std::optional<std::string> text = ReadProfileString(path, section, key);
  if (!text) return fallback;
  // Like the Windows reader: an optional sign and decimal digits, else 0.
  const char* p = text->c_str();
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 0xFFFFFFFFll) value = 0xFFFFFFFFll;
  }
  return static_cast<int>(static_cast<uint32_t>(negative ? -value : value));
}

bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value) {
  std::vector<Line> lines;
  ReadLines(path, lines);  // a missing file is created
  // New lines follow the file's own line ends.
  std::string eol = "\r\n";
  for (const Line& l : lines) {
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  }
  const Line fresh{key + "=" + value, eol};

  int sectionLine = -1;
  int lastKeyLine = -1;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    if (auto name = SectionOf(lines[i].text)) {
      if (sectionLine >= 0) break;  // end of the first matching section
      if (EqualNoCase(*name, section)) sectionLine = lastKeyLine = i;
      continue;
    }
    if (sectionLine < 0) continue;
    if (auto k = KeyOf(lines[i].text, nullptr)) {
      if (EqualNoCase(*k, key)) {
        lines[i].text = fresh.text;  // replaced in place, its line end kept
        sectionLine = -2;
        break;
      }
      lastKeyLine = i;
    } else if (!Trim(lines[i].text).empty()) {
      lastKeyLine = i;
    }
  }
  if (sectionLine >= 0) {
    // Behind the section's last entry, so trailing blank lines stay where they were.
    if (lines[lastKeyLine].end.empty()) lines[lastKeyLine].end = eol;
    lines.insert(lines.begin() + lastKeyLine + 1, fresh);
  } else if (sectionLine == -1) {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
    lines.push_back(Line{"[" + section + "]", eol});
    lines.push_back(fresh);
  }
  std::string content;
  for (const Line& l : lines) content += l.text + l.end;
  return WriteAtomically(path, content);
}

}  // namespace stb
