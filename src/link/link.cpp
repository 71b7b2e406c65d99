#include "link/link.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "context/error_table.h"
#include "link/clock.h"
#include "link/port.h"

namespace stb {

const char ProtocolIdString[256] = "@KVO PROTOCOL 3.0+";

const char* SynchronisationCommand() {
  // "comtest %d\r" filled with the length of ProtocolIdString: "comtest 18\r".
  static const struct Command {
    char text[256] = {};
    Command() {
      std::snprintf(text, sizeof text, "comtest %d\r",
                    static_cast<int>(std::strlen(ProtocolIdString)));
    }
  } command;
  return command.text;
}

namespace {
std::atomic<LogSinkFunction>& LogSinkSlot() {
  static std::atomic<LogSinkFunction> sink{nullptr};
  return sink;
}
std::atomic<uint32_t>& ProtocolVersionSlot() {
  static std::atomic<uint32_t> version{0};
  return version;
}
}  // namespace

void SetLogSink(LogSinkFunction function) {
  LogSinkSlot().store(function);
}
LogSinkFunction LogSink() {
  return LogSinkSlot().load();
}

uint32_t CurrentProtocolVersion() {
  return ProtocolVersionSlot().load();
}
void SetProtocolVersion(uint32_t version) {
  ProtocolVersionSlot().store(version);
}

const char* GetLinkVersion() {
  return "V.2B  ";
}

int32_t SendByte(uint32_t value) {
  const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
  return PortWrite(&byte, 1);
}

int SendEcho(const uint8_t* data, int32_t count, uint32_t timeoutMs) {
  for (int32_t i = 0; i < count; ++i) {
    if (PortWrite(&data[i], 1) != 1) return err::kSendData;
    uint8_t echo = 0;
    if (PortRead(&echo, 1, timeoutMs) != 0) return err::kReadData;
    if (echo != data[i]) return err::kEchoMismatch;
  }
  return err::kSuccess;
}

int Handshake(uint32_t& versionOut, CancelQuery isCancelled) {
  const auto* id = reinterpret_cast<const uint8_t*>(ProtocolIdString);
  const auto* command = reinterpret_cast<const uint8_t*>(SynchronisationCommand());
  const auto commandLength = static_cast<int32_t>(std::strlen(SynchronisationCommand()));

  PortPurge();
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (isCancelled != nullptr && isCancelled() == 1) return err::kCancelled;
    SleepMs(100);
    PortPurge();
    if (SendEcho(command, commandLength, 50) != 0) {
      // End whatever partial line the box took; the next attempt starts afresh.
      SendByte('\r');
      continue;
    }
    if (PortWrite(id, kProtocolIdLength) < kProtocolIdLength) continue;
    uint8_t reply[kProtocolIdLength] = {};
    if (PortRead(reply, kProtocolIdLength, 200) != 0) continue;
    if (std::memcmp(reply, id, kProtocolIdLength) == 0) {
      versionOut = 32;
      return err::kSuccess;
    }
    bool complement = true;
    for (int i = 0; i < kProtocolIdLength; ++i) {
      if (reply[i] != static_cast<uint8_t>(~id[i])) {
        complement = false;
        break;
      }
    }
    if (complement) {
      versionOut = 48;
      return err::kSuccess;
    }
  }
  return err::kNotConnected;
}

}  // namespace stb
