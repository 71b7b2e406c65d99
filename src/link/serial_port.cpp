// termios2 (asm/termbits.h) gives any baud rate through BOTHER and mark/space parity
// through CMSPAR; it cannot be mixed with <termios.h>, so flushing goes through ioctl.
//
// Waiting is measured on the steady system clock, not on the clock seam of link/clock.h:
// the waits here sleep in the kernel (poll, nanosleep) for real time, and a virtual
// clock would never move while they do.
#include "link/serial_port.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "context/settings.h"
#include "context/upgrade_context.h"

namespace stb {

namespace {
std::atomic<SerialReadFunction>& ReadFunctionSlot() {
  static std::atomic<SerialReadFunction> slot{nullptr};
  return slot;
}

ssize_t ReadFd(int fd, void* buffer, size_t count) {
  const SerialReadFunction f = ReadFunctionSlot().load();
  return f != nullptr ? f(fd, buffer, count) : ::read(fd, buffer, count);
}

uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepRealMs(uint32_t ms) {
  struct timespec ts {
    static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L
  };
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// poll() takes an int; long limits are waited out in slices.
int PollSlice(uint32_t remainingMs) {
  return static_cast<int>(std::min<uint32_t>(remainingMs, 1000));
}

std::string OsError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int m = major(st.st_rdev);
  // Unix98 pty slaves (136..143) and the old BSD pty slaves (3).
  return (m >= 136 && m <= 143) || m == 3;
}

bool ApplyLine(int fd, int32_t baud, int32_t parity, int32_t stopBits, bool pty, std::string& why) {
  if (baud <= 0) {
    why = "baud rate " + std::to_string(baud) + " refused";
    return false;
  }
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) {
    why = OsError("line settings not readable", errno);
    return false;
  }
  // Raw bytes: no input or output processing, no echo, no signals, no end-of-file
  // character; no software (IXON/IXOFF) or hardware (CRTSCTS) flow control.
  tio.c_iflag = 0;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER;
  if (stopBits != 1) tio.c_cflag |= CSTOPB;
  switch (parity) {
    case 0:
      break;
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
    case 3:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      why = "unknown parity code " + std::to_string(parity);
      return false;
  }
  // Parity checking on exactly when the line has parity. Without IGNPAR and PARMRK a
  // byte that fails the check is read as 0, so the message keeps its length and the
  // protocol's echo or CRC check refuses it.
  if (parity != 0) tio.c_iflag |= INPCK;
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  for (cc_t& c : tio.c_cc) c = 0;  // VMIN 0, VTIME 0: a read returns what is there
  if (::ioctl(fd, TCSETS2, &tio) != 0) {
    why = OsError("line settings refused", errno);
    return false;
  }
  struct termios2 back {};
  if (::ioctl(fd, TCGETS2, &back) != 0) {
    why = OsError("line settings not readable", errno);
    return false;
  }
  if (!LineSettingsTaken(tio.c_cflag, back.c_cflag, static_cast<uint32_t>(baud), back.c_ospeed,
                         pty) ||
      (back.c_iflag & (INPCK | IXON | IXOFF)) != (tio.c_iflag & (INPCK | IXON | IXOFF))) {
    why = "the driver did not take the line settings (" + std::to_string(baud) + " baud, parity " +
          std::to_string(parity) + ", read back " + std::to_string(back.c_ospeed) + " baud)";
    return false;
  }
  return true;
}

bool HoldModemLinesInactive(int fd, std::string& why) {
  // DTR and RTS inactive. A pseudo-terminal has no modem lines (ENOTTY), nor do some
  // adapters (EINVAL): not an error there.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIC, &lines) == 0 || errno == ENOTTY || errno == EINVAL) return true;
  why = OsError("DTR and RTS cannot be set", errno);
  return false;
}
}  // namespace

bool LineSettingsTaken(uint32_t wantCflag, uint32_t gotCflag, uint32_t wantBaud, uint32_t gotBaud,
                       bool pseudoTerminal) {
  uint32_t mask = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CLOCAL | CREAD;
  if (pseudoTerminal) mask &= ~static_cast<uint32_t>(CSIZE | PARENB);
  if ((wantCflag & mask) != (gotCflag & mask)) return false;
  // A UART divisor rounds the rate; within 3 percent the line still works.
  const uint64_t want = wantBaud, got = gotBaud;
  const uint64_t diff = got > want ? got - want : want - got;
  return want > 0 && diff * 100 <= want * 3;
}

void SetSerialReadFunction(SerialReadFunction function) {
  ReadFunctionSlot().store(function);
}

CSerialPort::~CSerialPort() {
  Close();
}

int CSerialPort::Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) {
  return OpenDevice(DeviceForPort(port), baud, parity, stopBits);
}

int CSerialPort::OpenDevice(const std::string& path, int32_t baud, int32_t parity,
                            int32_t stopBits) {
  if (open_ != 0) Close();
  lastOpenError_.clear();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    lastOpenError_ = OsError(path, e);
    if (e == EBUSY) lastOpenError_ += " (the port is in use by another program)";
    return 0;
  }
  auto fail = [&](const std::string& why) {
    lastOpenError_ = path + ": " + why;
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return 0;
  };
  if (!::isatty(fd)) return fail(std::string("not a serial device (") + std::strerror(errno) + ")");
  // Exclusive use: a lock that every copy of the tool honours (also a second open in
  // this process, and root, whom TIOCEXCL does not stop), and TIOCEXCL that makes the
  // kernel refuse further opens by other programs.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    lastOpenError_ =
        e == EWOULDBLOCK ? path + ": the port is in use by another program" : OsError(path, e);
    return 0;
  }
  if (::ioctl(fd, TIOCEXCL) != 0) return fail(OsError("exclusive use refused", errno));
  std::string why;
  if (!ApplyLine(fd, baud, parity, stopBits, IsPseudoTerminal(fd), why)) return fail(why);
  if (!HoldModemLinesInactive(fd, why)) return fail(why);
  (void)::ioctl(fd, TCFLSH, TCIOFLUSH);
  fd_ = fd;
  open_ = 1;
  baud_ = baud;
  path_ = path;
  return 1;
}

int CSerialPort::Close() {
  if (open_ == 0 || fd_ < 0) return 1;
  // On a pseudo-terminal the exclusive flag outlives the close; clear it first.
  (void)::ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the flock
  fd_ = -1;
  open_ = 0;
  baud_ = 0;
  path_.clear();
  return 1;
}

int32_t CSerialPort::Write(const uint8_t* data, int32_t length) {
  if (open_ == 0 || fd_ < 0 || length <= 0 || data == nullptr) return 0;
  // The whole write must be done within length + 100 ms.
  const uint32_t limit = static_cast<uint32_t>(length) + 100;
  const uint32_t t0 = NowMs();
  int32_t written = 0;
  while (written < length) {
    const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(length - written));
    if (n > 0) {
      written += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return 0;
    const uint32_t spent = NowMs() - t0;
    if (spent >= limit) return 0;
    struct pollfd p {
      fd_, POLLOUT, 0
    };
    const int r = ::poll(&p, 1, PollSlice(limit - spent));
    // Hung up or failed without room to write: nothing more will go out.
    if (r > 0 && (p.revents & POLLOUT) == 0) return 0;
  }
  return written;
}

int32_t CSerialPort::BytesAvailable() {
  if (open_ == 0 || fd_ < 0) return 0;
  int n = 0;
  if (::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
  return n;
}

int32_t CSerialPort::ReadAvailable(uint8_t* buffer, int32_t maxLength) {
  if (open_ == 0 || fd_ < 0 || maxLength <= 0 || buffer == nullptr) return 0;
  const int32_t waiting = BytesAvailable();
  if (waiting <= 0) return 0;
  const int32_t n = std::min({waiting, maxLength, kMaxTtyRead});
  ssize_t got;
  do {
    got = ReadFd(fd_, buffer, static_cast<size_t>(n));
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<int32_t>(got) : 0;
}

bool CSerialPort::ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) {
  if (length == 0) return true;
  if (open_ == 0 || fd_ < 0 || length < 0 || buffer == nullptr) return false;
  // The kernel never queues more than 4095 bytes, so a longer message cannot be
  // waited for without reading part of it.
  if (length > kMaxTtyRead) return false;
  const uint32_t t0 = NowMs();
  bool wokeWithoutData = false;
  for (;;) {
    // The limit first, then the queue (a limit of 0 fails
    // without reading, even when bytes wait).
    const uint32_t spent = NowMs() - t0;
    if (spent >= timeoutMs) return false;
    const uint32_t remaining = timeoutMs - spent;
    const int32_t waiting = BytesAvailable();
    if (waiting >= length) return ReadAvailable(buffer, length) == length;
    if (waiting == 0 && !wokeWithoutData) {
      // Nothing queued: sleep in poll until a byte arrives or the limit passes.
      struct pollfd p {
        fd_, POLLIN, 0
      };
      const int r = ::poll(&p, 1, PollSlice(remaining));
      // Woken with nothing to read (the other end hung up, an error): sleep next time
      // instead of polling, so a dead line is not a busy loop.
      wokeWithoutData = r > 0 && BytesAvailable() == 0;
      continue;
    }
    wokeWithoutData = false;
    // Part of the message is queued; poll would return at once, so sleep for the
    // time the missing bytes need on the line (10 bits each), 1 to 10 ms.
    const uint64_t missing = static_cast<uint64_t>(length - std::max(waiting, 0));
    const uint64_t lineMs = baud_ > 0 ? missing * 10 * 1000 / static_cast<uint64_t>(baud_) : 1;
    SleepRealMs(
        std::min<uint32_t>(remaining, static_cast<uint32_t>(std::clamp<uint64_t>(lineMs, 1, 10))));
  }
}

bool CSerialPort::ReadBackLine(LineReadback& out) const {
  if (open_ == 0 || fd_ < 0) return false;
  struct termios2 t {};
  if (::ioctl(fd_, TCGETS2, &t) != 0) return false;
  out.cflag = t.c_cflag;
  out.iflag = t.c_iflag;
  out.oflag = t.c_oflag;
  out.lflag = t.c_lflag;
  out.ispeed = t.c_ispeed;
  out.ospeed = t.c_ospeed;
  out.vmin = t.c_cc[VMIN];
  out.vtime = t.c_cc[VTIME];
  return true;
}

bool CSerialPort::PurgeInput() {
  if (open_ == 0 || fd_ < 0) return false;
  return ::ioctl(fd_, TCFLSH, TCIFLUSH) == 0;
}

bool CSerialPort::PurgeOutput() {
  if (open_ == 0 || fd_ < 0) return false;
  return ::ioctl(fd_, TCFLSH, TCOFLUSH) == 0;
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
