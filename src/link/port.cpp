#include "link/port.h"

#include <atomic>

#include "context/error_table.h"
#include "link/serial_port.h"

namespace stb {

namespace {
std::atomic<IPort*>& PortSlot() {
  static std::atomic<IPort*> slot{nullptr};
  return slot;
}
}  // namespace

IPort& ActivePort() {
  IPort* port = PortSlot().load();
  return port != nullptr ? *port : GetSerialPort();
}

void SetActivePort(IPort* port) {
  PortSlot().store(port);
}

int PortOpen(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) {
  return ActivePort().Open(port, baud, parity, stopBits) == 1 ? err::kSuccess : err::kPortConnect;
}

int PortClose() {
  ActivePort().Close();
  return 0;
}

int32_t PortWrite(const uint8_t* data, int32_t length) {
  return ActivePort().Write(data, length);
}

int32_t PortReadAvailable(uint8_t* buffer, int32_t maxLength) {
  return ActivePort().ReadAvailable(buffer, maxLength);
}

int PortRead(uint8_t* buffer, int32_t length, uint32_t timeoutMs) {
  return ActivePort().ReadExact(buffer, length, timeoutMs) ? 0 : 1;
}

int PortPurge() {
  return ActivePort().Purge() ? 0 : 1;
}

int PortPurgeOutput() {
  return ActivePort().PurgeOutput() ? 0 : 1;
}

}  // namespace stb
