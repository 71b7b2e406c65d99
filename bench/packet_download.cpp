// Download of 1 MiB to a box that answers every packet at once, to show what the
// tool itself spends per packet: framing, CRCs, the reply hunt and the copies.
// The box is a minimal in-memory port with its replies framed before the clock
// starts, so its own work does not count; no real time is slept (a virtual clock).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "image/crc32.h"
#include "link/clock.h"
#include "link/port.h"
#include "protocol/bulk_transfer.h"
#include "protocol/packet.h"

namespace {

using Bytes = std::vector<uint8_t>;

double ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}
double WallUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

Bytes AckFrame(uint32_t sequence, uint32_t value) {
  Bytes covered = {3, 0};
  Put32(covered, sequence);
  covered.push_back(0);
  Put32(covered, 5);
  Bytes f = {'H', 'E', 'A', 'D'};
  f.insert(f.end(), covered.begin(), covered.end());
  Put32(f, stb::Crc32Of(covered.data(), static_cast<int32_t>(covered.size())));
  Bytes payload = {0};
  Put32(payload, value);
  f.insert(f.end(), payload.begin(), payload.end());
  Put32(f, stb::Crc32Of(payload.data(), 5));
  return f;
}

class StillClock final : public stb::IClock {
 public:
  uint32_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override { now_ += ms; }

 private:
  uint32_t now_ = 0;
};

// Every packet the tool sends is three writes (header, payload, CRC); after the
// third the next prepared reply becomes readable.
class AnsweringPort final : public stb::IPort {
 public:
  std::vector<Bytes> replies;
  size_t nextReply = 0;
  uint64_t bytesWritten = 0;
  uint32_t packets = 0;
  double firstDataWall = 0, firstDataCpu = 0;

  int Open(int32_t, int32_t, int32_t, int32_t) override { return 1; }
  int Close() override { return 1; }
  int32_t Write(const uint8_t*, int32_t length) override {
    bytesWritten += static_cast<uint64_t>(length);
    if (++writes_ % 3 == 0) {
      if (++packets == 2) {  // the first data packet has just gone out
        firstDataWall = WallUs();
        firstDataCpu = ThreadCpuUs();
      }
      if (nextReply < replies.size()) {
        current_ = &replies[nextReply++];
        at_ = 0;
      }
    }
    return length;
  }
  int32_t BytesAvailable() override {
    return current_ ? static_cast<int32_t>(current_->size() - at_) : 0;
  }
  int32_t ReadAvailable(uint8_t* buffer, int32_t maxLength) override {
    const int32_t n = std::min(maxLength, BytesAvailable());
    if (n > 0) std::memcpy(buffer, current_->data() + at_, static_cast<size_t>(n));
    at_ += static_cast<size_t>(std::max(n, 0));
    return n;
  }
  bool ReadExact(uint8_t* buffer, int32_t length, uint32_t) override {
    if (BytesAvailable() < length) return false;
    return ReadAvailable(buffer, length) == length;
  }
  bool PurgeInput() override {
    at_ = current_ ? current_->size() : 0;
    return true;
  }
  bool PurgeOutput() override { return true; }

 private:
  uint64_t writes_ = 0;
  const Bytes* current_ = nullptr;
  size_t at_ = 0;
};

struct Run {
  double totalWallUs, totalCpuUs, packetWallUs, packetCpuUs;
  uint32_t dataPackets;
};

Run DownloadOnce(const Bytes& source) {
  AnsweringPort port;
  StillClock clock;
  stb::SetActivePort(&port);
  stb::SetClock(&clock);
  const uint32_t sequence = stb::PacketSequence() + 1;
  port.replies.push_back(AckFrame(sequence, 0));
  for (uint32_t n = 1; n <= source.size() / 1024 + 1; ++n)
    port.replies.push_back(AckFrame(sequence, n));

  Bytes data = source;
  const double wall0 = WallUs(), cpu0 = ThreadCpuUs();
  const int rc =
      stb::PacketDownload(data.data(), static_cast<int32_t>(data.size()), nullptr, nullptr);
  const double wall1 = WallUs(), cpu1 = ThreadCpuUs();
  stb::SetActivePort(nullptr);
  stb::SetClock(nullptr);
  if (rc != 0) std::fprintf(stderr, "download failed: %d\n", rc);
  return {wall1 - wall0, cpu1 - cpu0, wall1 - port.firstDataWall, cpu1 - port.firstDataCpu,
          port.packets - 1};
}

void Report(const char* name, const Bytes& source, int rounds) {
  std::vector<Run> runs;
  for (int i = 0; i < rounds; ++i) runs.push_back(DownloadOnce(source));
  auto median = [&](double Run::*field) {
    std::vector<double> v;
    for (const Run& r : runs) v.push_back(r.*field);
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  const uint32_t packets = runs[0].dataPackets;
  const double mib = static_cast<double>(source.size()) / (1024.0 * 1024.0);
  std::printf("%s: %u data packets, median of %d runs\n", name, packets, rounds);
  std::printf("  per 1024-byte packet: %.2f us wall, %.2f us CPU (packet phase only)\n",
              median(&Run::packetWallUs) / packets, median(&Run::packetCpuUs) / packets);
  std::printf("  whole download incl. compression step: %.2f ms wall, %.2f ms CPU per MiB\n",
              median(&Run::totalWallUs) / 1000.0 / mib, median(&Run::totalCpuUs) / 1000.0 / mib);
  // 1024 packets of 1024 bytes make a MiB on the line.
  std::printf("  packet phase alone: %.2f ms CPU per MiB sent\n",
              median(&Run::packetCpuUs) / packets * 1024.0 / 1000.0);
}

}  // namespace

int main() {
  const size_t size = 1024 * 1024;
  Bytes random(size);
  std::mt19937 rng(42);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  Bytes compressible(size);
  // Random nibbles: compresses to about half, so the compressed path has packets too.
  for (auto& b : compressible) b = static_cast<uint8_t>(rng() % 16);

  Report("incompressible (sent plain)", random, 15);
  Report("compressible (sent compressed)", compressible, 5);
  return 0;
}
