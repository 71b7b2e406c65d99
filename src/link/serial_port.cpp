// termios2 (asm/termbits.h) gives any baud rate through BOTHER and mark/space parity
// through CMSPAR; it cannot be mixed with <termios.h>, so flushing goes through ioctl.
#include "link/serial_port.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "context/settings.h"
#include "context/upgrade_context.h"
#include "link/clock.h"

namespace stb {

namespace {
// The kernel's tty input buffer holds 4095 bytes; no read may wait for more.
constexpr int32_t kMaxQueuedRead = 4095;

std::string OsError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool ApplyLine(int fd, int32_t baud, int32_t parity, int32_t stopBits, std::string& why) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    why = OsError("not a serial device");
    return false;
  }
  tio.c_iflag = 0;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER;
  if (stopBits != 1) tio.c_cflag |= CSTOPB;
  switch (parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default:
      why = "unknown parity code " + std::to_string(parity);
      return false;
  }
  // Parity checking on exactly when the line has parity; faulty bytes are passed on.
  if (parity != 0) tio.c_iflag |= INPCK;
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  for (cc_t& c : tio.c_cc) c = 0;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (baud <= 0 || ioctl(fd, TCSETS2, &tio) != 0) {
    why = OsError("line settings refused");
    return false;
  }
  struct termios2 back {};
  if (ioctl(fd, TCGETS2, &back) != 0) {
    why = OsError("line settings not readable");
    return false;
  }
  const tcflag_t mask = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
  // A pseudo-terminal keeps no speed of its own (it reports 0 or 38400), so the speed
  // is compared only on a real device; a driver that rounds the rate is accepted
  // within 3 percent, as a UART divisor would.
  bool speedOk = true;
  if (back.c_ospeed != 0 && back.c_ospeed != 38400) {
    const long want = baud, got = static_cast<long>(back.c_ospeed);
    speedOk = (got > want ? got - want : want - got) * 100 <= want * 3;
  }
  if ((back.c_cflag & mask) != (tio.c_cflag & mask) || !speedOk) {
    why = "the driver did not take the line settings (" + std::to_string(baud) + " baud)";
    return false;
  }
  return true;
}

void HoldModemLinesInactive(int fd) {
  // DTR and RTS inactive; a pseudo-terminal has no modem lines (ENOTTY): not an error.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIC, &lines);
}
}  // namespace

CSerialPort::~CSerialPort() { Close(); }

int CSerialPort::Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) {
  return OpenDevice(DeviceForPort(port), baud, parity, stopBits);
}

int CSerialPort::OpenDevice(const std::string& path, int32_t baud, int32_t parity,
                            int32_t stopBits) {
  if (open_ != 0) Close();
  lastOpenError_.clear();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastOpenError_ = OsError(path);
    return 0;
  }
  // Exclusive use: a lock that every copy of the tool honours, and TIOCEXCL that makes
  // the kernel refuse further opens by anyone else.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    lastOpenError_ = errno == EWOULDBLOCK ? path + ": the port is in use by another program"
                                          : OsError(path);
    ::close(fd);
    return 0;
  }
  if (!isatty(fd)) {
    lastOpenError_ = path + ": not a terminal device";
    ::close(fd);
    return 0;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    lastOpenError_ = OsError(path);
    ::close(fd);
    return 0;
  }
  std::string why;
  if (!ApplyLine(fd, baud, parity, stopBits, why)) {
    lastOpenError_ = path + ": " + why;
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd);
    return 0;
  }
  HoldModemLinesInactive(fd);
  (void)ioctl(fd, TCFLSH, TCIOFLUSH);
  fd_ = fd;
  open_ = 1;
  return 1;
}

int CSerialPort::Close() {
  if (open_ == 0 || fd_ < 0) return 1;
  // On a pseudo-terminal the exclusive flag outlives the close; clear it first.
  (void)ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
  open_ = 0;
  return 1;
}

int32_t CSerialPort::Write(const uint8_t* data, int32_t length) {
  if (open_ == 0 || fd_ < 0 || length < 0) return 0;
  // The whole write must be done within length + 100 ms.
  const uint32_t limit = static_cast<uint32_t>(length) + 100;
  const uint32_t t0 = TickMs();
  int32_t written = 0;
  while (written < length) {
    const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(length - written));
    if (n > 0) {
      written += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return 0;
    const uint32_t spent = TickMs() - t0;
    if (spent >= limit) return 0;
    struct pollfd p {fd_, POLLOUT, 0};
    (void)::poll(&p, 1, static_cast<int>(limit - spent));
  }
  return written;
}

int32_t CSerialPort::BytesAvailable() {
  if (open_ == 0 || fd_ < 0) return 0;
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) != 0) return 0;
  return n;
}

int32_t CSerialPort::ReadAvailable(uint8_t* buffer, int32_t maxLength) {
  if (open_ == 0 || fd_ < 0 || maxLength <= 0) return 0;
  const int32_t waiting = BytesAvailable();
  if (waiting <= 0) return 0;
  const int32_t n = waiting < maxLength ? waiting : maxLength;
  const ssize_t got = ::read(fd_, buffer, static_cast<size_t>(n));
  return got > 0 ? static_cast<int32_t>(got) : 0;
}

bool CSerialPort::ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) {
  if (length == 0) return true;
  if (open_ == 0 || fd_ < 0 || length < 0 || length > kMaxQueuedRead) return false;
  const uint32_t t0 = TickMs();
  for (;;) {
    if (BytesAvailable() >= length) return ReadAvailable(buffer, length) == length;
    const uint32_t spent = TickMs() - t0;
    if (spent >= timeoutMs) return false;
    // Sleep until more bytes arrive or the limit passes; poll wakes on every arrival,
    // so the loop re-checks the count without spinning.
    struct pollfd p {fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(timeoutMs - spent));
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && BytesAvailable() < length) {
      // The other end went away: nothing more will come. Wait out the limit in
      // sleeps so a caller's retry loop does not spin on a dead line.
      const uint32_t now = TickMs() - t0;
      if (now < timeoutMs) SleepMs(std::min<uint32_t>(timeoutMs - now, 10));
    } else if (r > 0) {
      // Bytes came but not yet enough; give the rest 1 ms to gather instead of
      // waking once per byte.
      SleepMs(1);
    }
  }
}

bool CSerialPort::PurgeInput() {
  if (open_ == 0 || fd_ < 0) return false;
  return ioctl(fd_, TCFLSH, TCIFLUSH) == 0;
}

bool CSerialPort::PurgeOutput() {
  if (open_ == 0 || fd_ < 0) return false;
  return ioctl(fd_, TCFLSH, TCOFLUSH) == 0;
}

CSerialPort& GetSerialPort() {
  static CSerialPort port;
  return port;
}

std::string DeviceForPort(int32_t port) {
  const SerialSettings& settings = GetSerialSettings();
  if (!settings.Device.empty()) return settings.Device;
  const std::string key = "COM" + std::to_string(port);
  std::string mapped = ReadSettingsText("Ports", key.c_str(), "");
  if (!mapped.empty()) return mapped;
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace stb
