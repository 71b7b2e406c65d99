#include "sim_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "sim/box_crc.h"

namespace stb::sim::test {

namespace {
using Clock = std::chrono::steady_clock;
int LeftMs(Clock::time_point deadline) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return ms.count() < 0 ? 0 : static_cast<int>(ms.count());
}
}  // namespace

SimClient::~SimClient() {
  Close();
}

bool SimClient::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct termios tio {};
  tcgetattr(fd_, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd_, TCSANOW, &tio);
  return true;
}

void SimClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

bool SimClient::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (Clock::now() > deadline) return false;
    struct pollfd p {
      fd_, POLLOUT, 0
    };
    ::poll(&p, 1, 10);
  }
  return true;
}

bool SimClient::Write(const std::string& bytes) {
  return Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> SimClient::Read(size_t n, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pending_.size() < n) {
    uint8_t buffer[4096];
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got > 0) {
      pending_.insert(pending_.end(), buffer, buffer + got);
      continue;
    }
    const int left = LeftMs(deadline);
    if (left == 0) break;
    struct pollfd p {
      fd_, POLLIN, 0
    };
    ::poll(&p, 1, left);
  }
  const size_t take = std::min(n, pending_.size());
  std::vector<uint8_t> out(pending_.begin(), pending_.begin() + static_cast<long>(take));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(take));
  return out;
}

std::vector<uint8_t> SimClient::ReadQuiet(int quietMs) {
  std::vector<uint8_t> out;
  for (;;) {
    std::vector<uint8_t> more = Read(1 << 20, quietMs);
    if (more.empty()) return out;
    out.insert(out.end(), more.begin(), more.end());
  }
}

bool SimClient::Type(const std::string& text) {
  for (char c : text) {
    if (!Write(std::string(1, c))) return false;
    const std::vector<uint8_t> echo = Read(1, 200);
    if (echo.size() != 1 || echo[0] != static_cast<uint8_t>(c)) return false;
  }
  return true;
}

std::vector<uint8_t> SimClient::Handshake() {
  if (!Type("comtest 18\r") || !Write(std::string("@KVO PROTOCOL 3.0+"))) return {};
  std::vector<uint8_t> answer = Read(18, 300);
  if (answer.size() != 18) return {};
  return answer;
}

bool SimClient::Send(const BoxPacket& packet) {
  return Write(EncodeBoxPacket(packet));
}

bool SimClient::SendCommand(uint32_t sequence, uint8_t retry, const std::string& text) {
  BoxPacket p;
  p.type = uint8_t(BoxPacketType::Command);
  p.sequence = sequence;
  p.retry = retry;
  p.length = static_cast<uint32_t>(text.size());
  p.payload.assign(text.begin(), text.end());
  return Send(p);
}

bool SimClient::SendRequest(uint32_t sequence, uint32_t number) {
  BoxPacket p = MakeDataPacket(sequence, 0, number, nullptr, 0);
  p.type = uint8_t(BoxPacketType::Request);
  return Send(p);
}

bool SimClient::SendData(uint32_t sequence, uint32_t number, const std::vector<uint8_t>& data) {
  return Send(MakeDataPacket(sequence, 0, number, data.data(), data.size()));
}

bool SimClient::SendStatus(uint32_t sequence, BoxStatus status, uint32_t value) {
  return Send(MakeStatusPacket(sequence, 0, status, value));
}

FrameResult SimClient::Receive(BoxPacket& packet, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // Drop noise up to a magic.
    size_t start = 0;
    while (start + 4 <= pending_.size() &&
           !(pending_[start] == 'H' && pending_[start + 1] == 'E' && pending_[start + 2] == 'A' &&
             pending_[start + 3] == 'D'))
      ++start;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(start));
    size_t used = 0;
    const FrameResult r = DecodeBoxPacket(pending_.data(), pending_.size(), packet, used);
    if (r != FrameResult::Short && r != FrameResult::BadMagic) {
      // A broken packet is consumed up to its announced end, as far as it came.
      size_t drop = used;
      if (r != FrameResult::Ok) drop = std::min(pending_.size(), kBoxHeaderSize);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(drop));
      return r;
    }
    const int left = LeftMs(deadline);
    if (left == 0) return FrameResult::Short;
    const size_t before = pending_.size();
    std::vector<uint8_t> more = Read(pending_.size() + 1, left);
    // Read took the bytes out of pending_; put them all back.
    pending_.insert(pending_.begin(), more.begin(), more.end());
    if (pending_.size() <= before && LeftMs(deadline) == 0) return FrameResult::Short;
  }
}

std::function<void(const std::string&)> LogCollector::Sink() {
  return [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  };
}

bool LogCollector::Has(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& line : lines_)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

std::string LogCollector::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const std::string& line : lines_) out += line + "\n";
  return out;
}

RunningBox::RunningBox(BoxOptions options, bool openClient) {
  options.log = true;
  options.logSink = log->Sink();
  box = std::make_unique<BoxSimulator>(std::move(options));
  started = box->Start();
  if (started && openClient) started = client.Open(box->SlavePath());
}

RunningBox::~RunningBox() {
  client.Close();
  box->Stop();
}

uint8_t StatusOf(const BoxPacket& packet) {
  return packet.payload.empty() ? 0xFF : packet.payload[0];
}

uint32_t ValueOf(const BoxPacket& packet) {
  return packet.payload.size() >= 5 ? GetBe32(&packet.payload[1]) : 0xFFFFFFFFu;
}

}  // namespace stb::sim::test
