#include "image/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "context/error_table.h"

namespace stb {

int OpenInputFile(const std::string& path, uint64_t& size, int& why) {
  if (path.empty()) {
    why = ENOENT;
    return -1;
  }
  // Look before opening: opening a device can have effects of its own (a serial
  // port raises its modem lines).
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    why = errno;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    why = err::kNotRegularFile;
    return -1;
  }
  // The path may have changed since: O_NONBLOCK keeps a FIFO put in its place from
  // blocking the open, and the descriptor's own type decides.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    why = errno;
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    why = errno;
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    why = err::kNotRegularFile;
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  size = static_cast<uint64_t>(st.st_size);
  why = 0;
  return fd;
}

std::FILE* OpenInputStream(const std::string& path) {
  uint64_t size = 0;
  int why = 0;
  const int fd = OpenInputFile(path, size, why);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

std::string InputErrorText(int why) {
  if (why == err::kNotRegularFile) return ErrorTextOf(err::kNotRegularFile);
  return std::strerror(why);
}

}  // namespace stb
