#include "image/image_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/input_file.h"

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
  uint64_t size = 0;
  int why = 0;
  const int fd = OpenInputFile(path, size, why);
  if (fd < 0) return why;
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  size_ = size;
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
