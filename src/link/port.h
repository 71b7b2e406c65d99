// The port functions every layer above reaches the line through, and the device
// interface behind them: the real serial port, or an in-memory port in tests.
#pragma once

#include <cstdint>
#include <string>

namespace stb {

class IPort {
 public:
  virtual ~IPort() = default;
  // 1 = open, 0 = failed. stopBits 1 = one stop bit, anything else two.
  virtual int Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) = 0;
  virtual int Close() = 0;
  // Bytes written; 0 on failure.
  virtual int32_t Write(const uint8_t* data, int32_t length) = 0;
  virtual int32_t BytesAvailable() = 0;
  // Bytes read from what is already waiting; never waits.
  virtual int32_t ReadAvailable(uint8_t* buffer, int32_t maxLength) = 0;
  // True when exactly length bytes were read within timeoutMs. Waits until the whole
  // length is queued: never consumes part of a message.
  virtual bool ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) = 0;
  virtual bool PurgeInput() = 0;
  virtual bool PurgeOutput() = 0;
  bool Purge() { return PurgeInput() || PurgeOutput(); }
  // Why the last Open failed, in the operating system's words (empty when it did not).
  virtual std::string LastOpenError() const { return {}; }
};

// The port the port functions use: the process's serial port unless a test or the
// demo installed another.
IPort& ActivePort();
// Installs a port (null restores the serial port). Only while no worker runs.
void SetActivePort(IPort* port);

int PortOpen(int32_t port, int32_t baud, int32_t parity, int32_t stopBits);  // 0 or 2
int PortClose();                                                             // 0
int32_t PortWrite(const uint8_t* data, int32_t length);
int32_t PortReadAvailable(uint8_t* buffer, int32_t maxLength);
int PortRead(uint8_t* buffer, int32_t length, uint32_t timeoutMs);  // 0 all read, 1 not
int PortPurge();                                                    // 0 or 1
int PortPurgeOutput();                                              // 0 or 1

}  // namespace stb
