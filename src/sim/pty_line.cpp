#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace stb::sim {

namespace {
constexpr uint32_t kWriteLimitMs = 5000;

std::string OsError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

PtyLine::~PtyLine() {
  Close();
}

bool PtyLine::Open(std::string& error) {
  Close();
  stop_ = false;
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error = OsError("posix_openpt");
    return false;
  }
  char name[256] = {};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    error = OsError("pseudo-terminal setup");
    Close();
    return false;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  struct termios tio {};
  if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) {
    error = OsError(name);
    Close();
    return false;
  }
  // Raw from the start: without this the line discipline would echo the tool's bytes
  // back to it and translate carriage returns before the tool sets its own mode.
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
    error = OsError("raw mode on the slave");
    Close();
    return false;
  }
  if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
      pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = OsError("line setup");
    Close();
    return false;
  }
  return true;
}

void PtyLine::Close() {
  for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  putBack_.clear();
  rx_.clear();
  rxPos_ = 0;
}

void PtyLine::SetBaud(uint32_t baud) {
  byteTime_ =
      baud == 0 ? std::chrono::nanoseconds(0) : std::chrono::nanoseconds(10'000'000'000LL / baud);
}

uint32_t PtyLine::LineTimeMs(size_t n) const {
  const int64_t ns = byteTime_.count() * static_cast<int64_t>(n);
  return static_cast<uint32_t>((ns + 999'999) / 1'000'000);
}

void PtyLine::RequestStop() {
  stop_ = true;
  if (wake_[1] >= 0) {
    const char b = 1;
    (void)!::write(wake_[1], &b, 1);
  }
}

bool PtyLine::Fill(uint32_t timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (stop_ || master_ < 0) return false;
    uint8_t buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0) {
      rx_.assign(buffer, buffer + n);
      rxPos_ = 0;
      rxStamp_ = Clock::now();
      return true;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    struct pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int r = ::poll(p, 2, static_cast<int>(left.count()));
    // Without a reader on the slave a pty master may report a hang-up; wait it out
    // in short sleeps rather than spin.
    if (r > 0 && (p[0].revents & POLLIN) == 0 && (p[1].revents & POLLIN) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool PtyLine::ReadByte(uint8_t& out, uint32_t timeoutMs) {
  if (!putBack_.empty()) {
    out = putBack_.front();
    putBack_.pop_front();
    return true;
  }
  if (rxPos_ >= rx_.size() && !Fill(timeoutMs)) return false;
  out = rx_[rxPos_++];
  if (byteTime_.count() > 0) {
    // The byte is taken only once its line time has passed since it could have begun.
    rxFree_ = std::max(rxFree_, rxStamp_) + byteTime_;
    std::this_thread::sleep_until(rxFree_);
  }
  return true;
}

bool PtyLine::ReadExact(uint8_t* out, size_t n, uint32_t timeoutMs, size_t* got) {
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(uint64_t{timeoutMs} + LineTimeMs(n));
  size_t have = 0;
  while (have < n) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0 || !ReadByte(out[have], static_cast<uint32_t>(left.count()))) break;
    ++have;
  }
  if (got != nullptr) *got = have;
  return have == n;
}

void PtyLine::Unread(const uint8_t* data, size_t n) {
  putBack_.insert(putBack_.begin(), data, data + n);
}

size_t PtyLine::Drain(uint32_t quietMs, uint32_t maxMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
  size_t dropped = putBack_.size() + (rx_.size() - rxPos_);
  putBack_.clear();
  rxPos_ = rx_.size();
  while (Clock::now() < deadline && Fill(quietMs)) {
    dropped += rx_.size();
    rxPos_ = rx_.size();
  }
  return dropped;
}

bool PtyLine::WriteRaw(const uint8_t* data, size_t n) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteLimitMs);
  size_t done = 0;
  while (done < n) {
    if (stop_ || master_ < 0) return false;
    const ssize_t w = ::write(master_, data + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    struct pollfd p[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    (void)::poll(p, 2, static_cast<int>(std::min<int64_t>(left.count(), 50)));
  }
  return true;
}

bool PtyLine::Write(const uint8_t* data, size_t n) {
  if (byteTime_.count() == 0) return WriteRaw(data, n);
  // Slices of about 2 ms of line time, each handed over when it has fully "arrived".
  const size_t slice = std::max<size_t>(1, static_cast<size_t>(2'000'000 / byteTime_.count()));
  txFree_ = std::max(txFree_, Clock::now());
  for (size_t done = 0; done < n;) {
    const size_t k = std::min(slice, n - done);
    txFree_ += byteTime_ * static_cast<int64_t>(k);
    std::this_thread::sleep_until(txFree_);
    if (!WriteRaw(data + done, k)) return false;
    done += k;
  }
  return true;
}

}  // namespace stb::sim
