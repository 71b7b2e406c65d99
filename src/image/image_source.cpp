#include "image/image_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace stb {

int64_t MemoryImageSource::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (offset >= size_) return 0;
  const size_t count = n < size_ - offset ? n : static_cast<size_t>(size_ - offset);
  std::memcpy(out, data_ + offset, count);
  return static_cast<int64_t>(count);
}

FileImageSource::~FileImageSource() {
  if (fd_ >= 0) ::close(fd_);
}

int FileImageSource::Open(const std::string& path) {
  if (path.empty()) return ENOENT;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  int failure = 0;
  if (::fstat(fd, &st) != 0) {
    failure = errno;
  } else if (!S_ISREG(st.st_mode)) {
    failure = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (failure != 0) {
    ::close(fd);
    return failure;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return 0;
}

int64_t FileImageSource::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (fd_ < 0) return -1;
  size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

}  // namespace stb
