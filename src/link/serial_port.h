// The real serial port on termios.
#pragma once

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
  // Opens a device path directly.
  int OpenDevice(const std::string& path, int32_t baud, int32_t parity, int32_t stopBits);
  int Close() override;
  int32_t Write(const uint8_t* data, int32_t length) override;
  int32_t BytesAvailable() override;
  int32_t ReadAvailable(uint8_t* buffer, int32_t maxLength) override;
  bool ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) override;
  bool PurgeInput() override;
  bool PurgeOutput() override;
  std::string LastOpenError() const override { return lastOpenError_; }

 private:
  int fd_ = -1;
  int open_ = 0;
  std::string lastOpenError_;
};

// The process's one serial port.
CSerialPort& GetSerialPort();

// The device for COM number n: the serial settings' Device when one was given
// (--device), else key "COMn" of section "Ports" in the settings file, else
// /dev/ttyS<n-1>.
std::string DeviceForPort(int32_t port);

}  // namespace stb
