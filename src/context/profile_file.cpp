#include "context/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace stb {

namespace {
// A settings file is a few hundred bytes; anything far larger is not one.
constexpr off_t kMaxProfileSize = 4 * 1024 * 1024;
constexpr const char kBom[] = "\xEF\xBB\xBF";

std::string OsError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

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

// The section name of a "[name]" line, or nothing.
std::optional<std::string> SectionOf(const std::string& text) {
  const std::string t = Trim(text);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing (comments, section lines, other lines).
// valueStart receives the position of the value's first character in text.
std::optional<std::string> KeyOf(const std::string& text, size_t* valueStart = nullptr) {
  size_t b = 0;
  while (b < text.size() && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  if (b == text.size() || text[b] == ';' || text[b] == '[') return std::nullopt;
  const size_t eq = text.find('=', b);
  if (eq == std::string::npos) return std::nullopt;
  if (valueStart != nullptr) {
    size_t v = eq + 1;
    while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
    *valueStart = v;
  }
  return Trim(text.substr(b, eq - b));
}

std::string ValueOf(const std::string& text, size_t valueStart) {
  std::string v = Trim(text.substr(valueStart));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

// The file a write must replace: a symlink's target (so the link stays a link).
std::string ResolveForWrite(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes content into a temporary file beside path and renames it over path, so a
// crash leaves either the old or the new file, never half of one. On any failure the
// temporary file is removed and path is untouched.
bool WriteAtomically(const std::string& path, const std::string& content, std::string& error) {
  std::string name = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = OsError(path, errno);
    return false;
  }
  struct stat st {};
  // Keep the mode of the file being replaced; a new file gets the usual 0644.
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0;
  ok = ok && WriteAll(fd, content);
  ok = ok && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && ::rename(name.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(name.c_str());
    error = OsError(path, saved);
    return false;
  }
  // Make the rename itself durable; a failure here loses nothing already written.
  const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}
}  // namespace

CProfileFile::Status CProfileFile::Load(const std::string& path) {
  path_ = path;
  lines_.clear();
  error_.clear();
  changed_ = false;
  status_ = Status::kError;
  // O_NONBLOCK: a FIFO put in the file's place must not hang the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) {
      status_ = Status::kMissing;
    } else {
      error_ = OsError(path, errno);
    }
    return status_;
  }
  struct stat st {};
  std::string all;
  if (::fstat(fd, &st) != 0) {
    error_ = OsError(path, errno);
  } else if (!S_ISREG(st.st_mode)) {
    error_ = path + ": not a regular file";
  } else if (st.st_size > kMaxProfileSize) {
    error_ = path + ": too large for a settings file";
  } else {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error_ = OsError(path, errno);
        break;
      }
      if (n == 0) {
        status_ = Status::kOk;
        break;
      }
      all.append(buffer, static_cast<size_t>(n));
      if (static_cast<off_t>(all.size()) > kMaxProfileSize) {
        error_ = path + ": too large for a settings file";
        break;
      }
    }
  }
  ::close(fd);
  if (status_ != Status::kOk) {
    all.clear();
    return status_;
  }
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
      line.end = line.end.empty() ? "\r" : "\r\n";
    }
    lines_.push_back(std::move(line));
  }
  return status_;
}

std::string CProfileFile::ParseText(size_t index) const {
  const std::string& t = lines_[index].text;
  // An editor on Windows may have saved the file with a byte order mark.
  if (index == 0 && t.compare(0, 3, kBom) == 0) return t.substr(3);
  return t;
}

std::string CProfileFile::LineEnd() const {
  // New lines follow the file's own line ends.
  for (const Line& l : lines_) {
    if (!l.end.empty()) return l.end;
  }
  return "\n";
}

std::optional<std::string> CProfileFile::Get(const std::string& section,
                                             const std::string& key) const {
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string text = ParseText(i);
    if (auto name = SectionOf(text)) {
      // The first section of that name wins; later ones are not merged in.
      if (inSection) return std::nullopt;
      inSection = EqualNoCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    size_t valueStart = 0;
    if (auto k = KeyOf(text, &valueStart); k && EqualNoCase(*k, key)) {
      return ValueOf(text, valueStart);
    }
  }
  return std::nullopt;
}

int CProfileFile::GetInt(const std::string& section, const std::string& key, int fallback) const {
  const std::optional<std::string> text = Get(section, key);
  // An empty value counts as absent, as in GetPrivateProfileInt.
  if (!text || text->empty()) return fallback;
  const char* p = text->c_str();
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;  // saturates, as the 32-bit reader
  }
  const uint32_t v = static_cast<uint32_t>(value);
  return static_cast<int>(negative ? 0u - v : v);
}

std::vector<std::pair<std::string, std::string>> CProfileFile::Entries(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> out;
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string text = ParseText(i);
    if (auto name = SectionOf(text)) {
      if (inSection) break;
      inSection = EqualNoCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    size_t valueStart = 0;
    auto k = KeyOf(text, &valueStart);
    if (!k || k->empty()) continue;
    bool seen = false;
    for (const auto& e : out) seen = seen || EqualNoCase(e.first, *k);
    if (!seen) out.emplace_back(*k, ValueOf(text, valueStart));
  }
  return out;
}

void CProfileFile::Set(const std::string& section, const std::string& key,
                       const std::string& value) {
  if (status_ == Status::kError) return;  // never built upon a file we could not read
  const std::string eol = LineEnd();
  long sectionLine = -1;
  long lastEntry = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string text = ParseText(i);
    if (auto name = SectionOf(text)) {
      if (sectionLine >= 0) break;  // end of the first matching section
      if (EqualNoCase(*name, section)) sectionLine = lastEntry = static_cast<long>(i);
      continue;
    }
    if (sectionLine < 0) continue;
    size_t valueStart = 0;
    if (auto k = KeyOf(text, &valueStart); k && EqualNoCase(*k, key)) {
      // Replaced in place: what stands before the value and the line end are kept.
      const size_t bom = lines_[i].text.size() - text.size();
      const std::string updated = lines_[i].text.substr(0, bom + valueStart) + value;
      if (updated != lines_[i].text) {
        lines_[i].text = updated;
        changed_ = true;
      }
      return;
    }
    if (!Trim(text).empty()) lastEntry = static_cast<long>(i);
  }
  changed_ = true;
  if (sectionLine >= 0) {
    // Behind the section's last entry, so blank lines before the next section stay.
    Line& last = lines_[static_cast<size_t>(lastEntry)];
    if (last.end.empty()) last.end = eol;
    lines_.insert(lines_.begin() + lastEntry + 1, Line{key + "=" + value, eol});
    return;
  }
  if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = eol;
  lines_.push_back(Line{"[" + section + "]", eol});
  lines_.push_back(Line{key + "=" + value, eol});
}

bool CProfileFile::Save() {
  if (status_ == Status::kError) {
    if (error_.empty()) error_ = path_ + ": not readable, left as it is";
    return false;
  }
  if (!changed_ && status_ == Status::kOk) return true;
  std::string content;
  for (const Line& l : lines_) content += l.text + l.end;
  std::string error;
  if (!WriteAtomically(ResolveForWrite(path_), content, error)) {
    error_ = error;
    return false;
  }
  error_.clear();
  status_ = Status::kOk;
  changed_ = false;
  return true;
}

std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key) {
  CProfileFile file;
  file.Load(path);
  return file.Get(section, key);
}

int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int fallback) {
  CProfileFile file;
  file.Load(path);
  return file.GetInt(section, key, fallback);
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  CProfileFile file;
  file.Load(path);
  file.Set(section, key, value);
  return file.Save();
}

}  // namespace stb
