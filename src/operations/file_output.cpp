#include "operations/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "context/error_table.h"

namespace stb {

namespace {
constexpr int kMaxLinkHops = 40;  // as the kernel allows

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NormalisedPath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  // Resolves the part that exists (symbolic folders included), the rest by its text.
  fs::path normal = fs::weakly_canonical(absolute, ec);
  if (ec) normal = absolute.lexically_normal();
  return normal.string();
}

// A new file beside target, created with the mode the umask gives (0666 & ~umask):
// a dump is an ordinary file of the user's. Its name goes to name.
int CreateTemporary(const std::string& target, std::string& name) {
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".part-%06x", entropy() & 0xFFFFFFu);
    name = target + suffix;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

int ResolveOutputTarget(const std::string& path, std::string& target) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = current;
      return 0;
    }
    std::vector<char> text(PATH_MAX + 1);
    const ssize_t n = ::readlink(current.c_str(), text.data(), text.size());
    if (n < 0) return errno;
    if (n == 0 || static_cast<size_t>(n) >= text.size()) return ENAMETOOLONG;
    const std::string link(text.data(), static_cast<size_t>(n));
    if (link.front() == '/') {
      current = link;
    } else {
      const std::string folder = FolderOf(current);
      current = (folder == "/" ? folder : folder + "/") + link;
    }
  }
  return ELOOP;
}

int CheckOutputTarget(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  return S_ISREG(st.st_mode) ? 0 : err::kNotRegularFile;
}

bool SameOutputFile(const std::string& a, const std::string& b) {
  std::string ta, tb;
  if (ResolveOutputTarget(a, ta) != 0) ta = a;
  if (ResolveOutputTarget(b, tb) != 0) tb = b;
  struct stat sa {
  }, sb{};
  const bool aThere = ::stat(ta.c_str(), &sa) == 0;
  const bool bThere = ::stat(tb.c_str(), &sb) == 0;
  if (aThere && bThere) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (aThere || bThere) return false;
  return NormalisedPath(ta) == NormalisedPath(tb);
}

int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size) {
  // A symbolic link stays and the file it names is replaced; a device or a FIFO in
  // the path's place would otherwise become a regular file by the rename.
  std::string target;
  if (ResolveOutputTarget(path, target) != 0) return err::kFileNotOpen;
  const int check = CheckOutputTarget(target);
  if (check == err::kNotRegularFile) return check;
  if (check != 0) return err::kFileNotOpen;
  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;

  std::string name;
  const int fd = CreateTemporary(target, name);
  if (fd < 0) return err::kFileNotOpen;
  if (replacing) {
    // The replaced file keeps its owner (where allowed) and its mode; the owner
    // first, since a change of owner clears the set-id bits.
    (void)::fchown(fd, old.st_uid, old.st_gid);
    (void)::fchmod(fd, old.st_mode & 07777);
  }
  bool ok = WriteAll(fd, data, size);
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  // The target may have been swapped for something else while the bytes went out.
  const int again = ok ? CheckOutputTarget(target) : 0;
  if (ok && again == 0 && std::rename(name.c_str(), target.c_str()) != 0) ok = false;
  if (!ok || again != 0) {
    ::unlink(name.c_str());
    return again == err::kNotRegularFile ? again : err::kWriteFileData;
  }
  return err::kSuccess;
}

}  // namespace stb
