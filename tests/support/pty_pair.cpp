#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace stb::test {

PtyPair::PtyPair() {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  char name[128] = {};
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
    ::close(fd);
    return;
  }
  master_ = fd;
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  CloseMaster();
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PtyPair::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() > deadline) return false;
    struct pollfd p {
      master_, POLLOUT, 0
    };
    ::poll(&p, 1, 10);
  }
  return true;
}

bool PtyPair::Write(const std::string& bytes) {
  return Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> PtyPair::Read(size_t n, int timeoutMs) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    uint8_t buffer[4096];
    const size_t want = std::min(sizeof buffer, n - out.size());
    const ssize_t got = ::read(master_, buffer, want);
    if (got > 0) {
      out.insert(out.end(), buffer, buffer + got);
      continue;
    }
    if (got < 0 && errno != EAGAIN && errno != EINTR) break;  // EIO: no slave open
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    struct pollfd p {
      master_, POLLIN, 0
    };
    ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50)));
  }
  return out;
}

std::vector<uint8_t> PtyPair::Drain() {
  std::vector<uint8_t> out;
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got <= 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

}  // namespace stb::test
