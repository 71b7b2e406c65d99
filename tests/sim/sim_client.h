// The far end of the box's pseudo-terminal for the box's own tests: raw bytes, typed
// text with echo checks, and packets built with the box's framing (which the framing
// tests pin to the loader's example bytes).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/box_packet.h"
#include "sim/box_sim.h"

namespace stb::sim::test {

class SimClient {
 public:
  SimClient() = default;
  ~SimClient();
  SimClient(const SimClient&) = delete;
  SimClient& operator=(const SimClient&) = delete;

  bool Open(const std::string& path);
  void Close();

  bool Write(const std::vector<uint8_t>& bytes);
  bool Write(const std::string& bytes);
  // Up to n bytes, waiting at most timeoutMs for them.
  std::vector<uint8_t> Read(size_t n, int timeoutMs);
  // Everything that arrives until the line has been quiet for quietMs.
  std::vector<uint8_t> ReadQuiet(int quietMs);
  // Types text a character at a time, as the tool does; false when an echo is wrong or
  // missing.
  bool Type(const std::string& text);
  // "comtest 18\r" and the identification text; returns the box's answer (empty when
  // none came within 300 ms).
  std::vector<uint8_t> Handshake();

  bool Send(const BoxPacket& packet);
  bool SendCommand(uint32_t sequence, uint8_t retry, const std::string& text);
  bool SendRequest(uint32_t sequence, uint32_t number);
  bool SendData(uint32_t sequence, uint32_t number, const std::vector<uint8_t>& data);
  bool SendStatus(uint32_t sequence, BoxStatus status, uint32_t value);
  // The next packet (noise before its magic skipped) within timeoutMs.
  FrameResult Receive(BoxPacket& packet, int timeoutMs = 1000);

 private:
  int fd_ = -1;
  std::vector<uint8_t> pending_;
};

// The box's log lines, kept for the test to look at.
class LogCollector {
 public:
  std::function<void(const std::string&)> Sink();
  bool Has(const std::string& text) const;
  std::string All() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A started box (logging into `log`) with a client on its slave.
struct RunningBox {
  explicit RunningBox(BoxOptions options, bool openClient = true);
  ~RunningBox();
  std::shared_ptr<LogCollector> log = std::make_shared<LogCollector>();
  std::unique_ptr<BoxSimulator> box;
  SimClient client;
  bool started = false;
};

// A status packet's status and value.
uint8_t StatusOf(const BoxPacket& packet);
uint32_t ValueOf(const BoxPacket& packet);

}  // namespace stb::sim::test
