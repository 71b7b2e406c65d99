// The real serial port on termios.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "link/port.h"

namespace stb {

class CSerialPort final : public IPort {
 public:
  CSerialPort() = default;
  ~CSerialPort() override;
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Opens the device that port number maps to (see DeviceForPort).
  int Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) override;
  // Opens a device path directly: exclusively (flock and TIOCEXCL), with the line
  // settings read back. 1 = open, 0 = failed (LastOpenError says why).
  int OpenDevice(const std::string& path, int32_t baud, int32_t parity, int32_t stopBits);
  int Close() override;
  // Waits in poll() for room; the whole write must finish within length + 100 ms.
  int32_t Write(const uint8_t* data, int32_t length) override;
  int32_t BytesAvailable() override;
  // Reads at most what is waiting, and never more than 4095 bytes at once.
  int32_t ReadAvailable(uint8_t* buffer, int32_t maxLength) override;
  // Sleeps in poll() until length bytes are queued or the limit passes (real time).
  // A length above 4095 (the kernel's input buffer) can never be queued: false at once.
  bool ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) override;
  bool PurgeInput() override;
  bool PurgeOutput() override;
  std::string LastOpenError() const override { return lastOpenError_; }

  // The line settings as the driver reports them (termios2 flags and speeds), for
  // tests and diagnostics. False when closed.
  struct LineReadback {
    uint32_t cflag = 0, iflag = 0, oflag = 0, lflag = 0, ispeed = 0, ospeed = 0;
    uint8_t vmin = 0, vtime = 0;
  };
  bool ReadBackLine(LineReadback& out) const;

  bool IsOpen() const { return open_ != 0; }
  const std::string& DevicePath() const { return path_; }

 private:
  int fd_ = -1;
  int open_ = 0;
  int32_t baud_ = 0;
  std::string path_;
  std::string lastOpenError_;
};

// The process's one serial port.
CSerialPort& GetSerialPort();

// The device for COM number n: the serial settings' Device when one was given
// (--device), else key "COMn" of section "Ports" in the settings file, else
// /dev/ttyS<n-1>.
std::string DeviceForPort(int32_t port);

// The kernel's tty input buffer holds 4095 bytes: no read asks for more.
inline constexpr int32_t kMaxTtyRead = 4095;

// Whether the driver took the line settings: the read-back termios flags and speed
// against the requested ones. A pseudo-terminal has no line: its driver forces CS8 and
// clears PARENB, so there only stop bits and the other flags are compared.
bool LineSettingsTaken(uint32_t wantCflag, uint32_t gotCflag, uint32_t wantBaud, uint32_t gotBaud,
                       bool pseudoTerminal);

// Seam for tests: every read(2) of CSerialPort goes through this function (null
// restores ::read), so a test can watch the sizes asked of the kernel.
using SerialReadFunction = ssize_t (*)(int fd, void* buffer, size_t count);
void SetSerialReadFunction(SerialReadFunction function);

}  // namespace stb
