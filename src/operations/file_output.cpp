#include "operations/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "context/error_table.h"

namespace stb {

int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size) {
  std::string pattern = path + ".part-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return err::kFileNotOpen;
  // mkstemp makes the file private; a dump is an ordinary file of the user's.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  size_t done = 0;
  bool ok = true;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(name.data(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(name.data());
    return err::kWriteFileData;
  }
  return err::kSuccess;
}

}  // namespace stb
