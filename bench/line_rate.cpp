// How close a chunk download comes to the line rate, what the tool spends per packet,
// and what compression saves on the line.
//
// The emulated box runs in-process on a pseudo-terminal; the core drives it on this
// thread exactly as a worker does: OpenAndSynchronise, LoaderReadInfo, LoaderSetAddress,
// LoaderDownload. A counting port between the core and the serial port counts the
// bytes of each direction and stamps the moments the line turns around.
//
//   (1) 1 MiB of random data (nothing to compress) to a box paced at 115200 baud:
//       line-rate bound = (bytes tool->box + box->tool) x 10 / baud, efficiency =
//       bound / elapsed.
//   (2) the same unpaced: the tool's turnaround per packet, packets per second.
//   (3) the built-in flash as a whole-image download, compressed in-process, against
//       the same download sent plain.
//
//   bench_line_rate [--quick] [--fine-wait]
//     --quick       256 KiB in (1) and (2) instead of 1 MiB
//     --fine-wait   (1) with the counting port waiting for replies in 50 us steps
//                   instead of the serial port's waits, to show what they cost
//
// Exits 1 when a download fails or the efficiency of (1) stays below 0.97.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "context/connect.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image/compression.h"
#include "image/crc32.h"
#include "image/external_encoder.h"
#include "link/link.h"
#include "link/port.h"
#include "link/serial_port.h"
#include "protocol/dispatcher.h"
#include "sim/box_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kLineBaud = 115200;
constexpr double kEfficiencyGoal = 0.97;

double SecondsSince(Clock::time_point t0, Clock::time_point t1) {
  return std::chrono::duration<double>(t1 - t0).count();
}

// Forwards to the serial port and counts what crosses it. While armed it also stamps
// the turns of the line: the tool is busy from the last byte of a reply read to the
// last byte of its next packet written, and waits from there to the end of the reply
// (line, box and the tool's own wake-up). Every packet the tool sends is three writes
// (header, payload, CRC), so the fourth write opens the first data packet.
//
// With fineWait the port waits for a message itself in 50 us steps instead of the
// serial port's waits, to show what their granularity costs.
struct TurnSample {
  double busyS;       // the tool: reply read to its next packet's last byte written
  double firstByteS;  // from there to the end of the reply's first read (its 'H')
  double restS;       // from there to the end of the reply's last read
  double WaitS() const { return firstByteS + restS; }
};

class CountingPort final : public stb::IPort {
 public:
  bool fineWait = false;
  uint64_t written = 0;
  uint64_t read = 0;
  uint64_t writes = 0;
  std::vector<TurnSample> samples;  // one per data packet answered
  Clock::time_point firstWrite{}, dataStart{};

  void Arm() {
    written = read = writes = 0;
    samples.clear();
    samples.reserve(2048);
    armed_ = true;
    state_ = Turn::None;
  }
  void Disarm() { armed_ = false; }

  int Open(int32_t port, int32_t baud, int32_t parity, int32_t stopBits) override {
    return Inner().Open(port, baud, parity, stopBits);
  }
  int Close() override { return Inner().Close(); }
  int32_t Write(const uint8_t* data, int32_t length) override {
    if (armed_) {
      const Clock::time_point now = Clock::now();
      if (writes == 0) firstWrite = now;
      if (writes == 3) dataStart = now;
      ++writes;
    }
    const int32_t n = Inner().Write(data, length);
    written += static_cast<uint64_t>(std::max(n, 0));
    lastWriteEnd_ = Clock::now();
    if (state_ == Turn::ReplyRead) state_ = Turn::Sending;
    return n;
  }
  int32_t BytesAvailable() override { return Inner().BytesAvailable(); }
  int32_t ReadAvailable(uint8_t* buffer, int32_t maxLength) override {
    const int32_t n = Inner().ReadAvailable(buffer, maxLength);
    if (n > 0) Took(static_cast<uint64_t>(n));
    return n;
  }
  bool ReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) override {
    const bool ok = fineWait ? FineReadExact(buffer, length, timeoutMs)
                             : Inner().ReadExact(buffer, length, timeoutMs);
    if (ok && length > 0) Took(static_cast<uint64_t>(length));
    return ok;
  }
  bool PurgeInput() override { return Inner().PurgeInput(); }
  bool PurgeOutput() override { return Inner().PurgeOutput(); }
  std::string LastOpenError() const override { return stb::GetSerialPort().LastOpenError(); }

 private:
  enum class Turn { None, ReplyRead, Sending };
  static stb::IPort& Inner() { return stb::GetSerialPort(); }

  void Took(uint64_t n) {
    read += n;
    const Clock::time_point now = Clock::now();
    if (armed_ && state_ == Turn::Sending) {
      samples.push_back(
          {SecondsSince(lastReadEnd_, lastWriteEnd_), SecondsSince(lastWriteEnd_, now), 0});
    } else if (armed_ && state_ == Turn::ReplyRead && !samples.empty()) {
      samples.back().restS += SecondsSince(lastReadEnd_, now);  // the next part of the reply
    }
    lastReadEnd_ = now;
    state_ = Turn::ReplyRead;
  }

  bool FineReadExact(uint8_t* buffer, int32_t length, uint32_t timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (Inner().BytesAvailable() >= length)
        return Inner().ReadAvailable(buffer, length) == length;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }

  bool armed_ = false;
  Turn state_ = Turn::None;
  Clock::time_point lastReadEnd_{};
  Clock::time_point lastWriteEnd_{};
};

// Any log line of the protocol layer during a download is a framing error or a retry.
uint32_t logLines = 0;
void CountLog(uint32_t, const char*, ...) {
  ++logLines;
}

// Bytes on the wire of a download whose data are wireSize bytes, both ways: the
// command and its Ack, then one Data packet (19 header + 4 number + up to 1024 data +
// 4 CRC) and one Ack per 1024 bytes.
struct Wire {
  uint64_t toBox = 0;
  uint64_t toTool = 0;
  uint64_t Both() const { return toBox + toTool; }
};
constexpr uint64_t kAckBytes = 19 + 5 + 4;
constexpr uint64_t kDataPacketBytes = 19 + 4 + 1024 + 4;
Wire PlainDownloadWire(uint64_t wireSize, const std::string& command) {
  const uint64_t packets = (wireSize + 1023) / 1024;
  Wire w;
  w.toBox = 19 + command.size() + 4 + packets * (19 + 4 + 4) + wireSize;
  w.toTool = kAckBytes * (1 + packets);
  return w;
}

double LineSeconds(uint64_t bytes, uint32_t baud) {
  return static_cast<double>(bytes) * 10.0 / baud;
}

struct Download {
  int rc = -1;
  Wire wire;
  double elapsedS = 0;   // the whole LoaderDownload, compression attempt included
  double transferS = 0;  // from the transfer command's first byte to the last Ack
  double dataS = 0;      // from the first data packet's first byte to the last Ack
  std::vector<TurnSample> samples;
  uint32_t logLines = 0;
  bool flashMatches = false;  // only when burned
};

// Mean, median and maximum of one field over the turns of a download.
struct Spread {
  double mean = 0, median = 0, max = 0;
};
Spread SpreadOf(const std::vector<TurnSample>& samples, double (*field)(const TurnSample&)) {
  Spread out;
  if (samples.empty()) return out;
  std::vector<double> v;
  v.reserve(samples.size());
  for (const TurnSample& t : samples) v.push_back(field(t));
  for (double x : v) out.mean += x;
  out.mean /= static_cast<double>(v.size());
  out.max = *std::max_element(v.begin(), v.end());
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  out.median = v[v.size() / 2];
  return out;
}

// One session with a fresh box: connect, read the table, download data at address 0,
// then optionally burn and compare the box's flash with what was sent.
Download RunSession(const stb::sim::BoxOptions& options, const Bytes& data, int rounds, bool burn,
                    bool fineWait = false) {
  Download best;
  stb::sim::BoxSimulator box(options);
  if (!box.Start()) {
    std::fprintf(stderr, "box does not start: %s\n", box.LastError().c_str());
    return best;
  }
  stb::GetSerialSettings().Device = box.SlavePath();
  stb::GetSerialSettings().Baud = static_cast<int32_t>(kLineBaud);
  CountingPort port;
  port.fineWait = fineWait;
  stb::SetActivePort(&port);

  int rc = stb::OpenAndSynchronise();
  uint32_t version = 0;
  if (rc == 0) rc = stb::LoaderReadInfo(version, stb::GetTargetChunkTable());
  if (rc != 0) {
    std::fprintf(stderr, "connect failed: %d\n", rc);
  } else {
    stb::SetProtocolVersion(version);
    for (int r = 0; r < rounds && rc == 0; ++r) {
      rc = stb::LoaderSetAddress(0);
      if (rc != 0) break;
      Bytes buffer = data;  // the download may overwrite it with the compressed form
      logLines = 0;
      port.Arm();
      const Clock::time_point t0 = Clock::now();
      rc = stb::LoaderDownload(buffer.data(), static_cast<int32_t>(buffer.size()),
                               &stb::ReportProgress, &stb::IsCancelRequested);
      const Clock::time_point t1 = Clock::now();
      port.Disarm();
      Download d;
      d.rc = rc;
      d.wire = {port.written, port.read};
      d.elapsedS = SecondsSince(t0, t1);
      d.transferS = SecondsSince(port.firstWrite, t1);
      d.dataS = SecondsSince(port.dataStart, t1);
      d.samples = port.samples;
      d.logLines = logLines;
      if (r == 0 || (rc == 0 && d.dataS < best.dataS)) best = d;
    }
    if (rc == 0 && burn) {
      rc = stb::LoaderBurn(static_cast<int32_t>(data.size()), nullptr);
      const Bytes flash = box.Flash();
      best.flashMatches = rc == 0 && flash.size() >= data.size() &&
                          std::equal(data.begin(), data.end(), flash.begin());
      if (rc != 0) best.rc = rc;
    }
    stb::LoaderReboot();
  }
  if (rc != 0 && best.rc == 0) best.rc = rc;
  stb::PortClose();
  stb::SetActivePort(nullptr);
  box.Stop();
  return best;
}

// The compression step alone, as the download runs it first (median of a few runs).
double EncoderSeconds(const Bytes& data, int32_t& packedSize, int& rc, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    Bytes copy = data;
    const Clock::time_point t0 = Clock::now();
    rc = stb::PrepareCompressedTransfer(copy.data(), static_cast<int32_t>(copy.size()), packedSize);
    times.push_back(SecondsSince(t0, Clock::now()));
  }
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  return times[times.size() / 2];
}

void PrintWire(const char* indent, const Wire& w) {
  std::printf("%sbytes tool->box %llu, box->tool %llu, both %llu\n", indent,
              static_cast<unsigned long long>(w.toBox), static_cast<unsigned long long>(w.toTool),
              static_cast<unsigned long long>(w.Both()));
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false, fineWait = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--fine-wait") == 0) {
      fineWait = true;
    } else {
      std::fprintf(stderr, "usage: %s [--quick] [--fine-wait]\n", argv[0]);
      return 2;
    }
  }
  if (stb::GetContext() == nullptr) return 2;
  stb::Crc32BuildTable();
  stb::SetLogSink(&CountLog);
  if (!stb::ExternalEncoderPath().empty())
    std::printf("note: lzma.exe found beside the program; the figures use it\n");

  const size_t size = quick ? 256 * 1024 : 1024 * 1024;
  Bytes random(size);
  std::mt19937 rng(7);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  const Wire expectedPlain = PlainDownloadWire(size, "transfer " + std::to_string(size) + "\r");
  const auto matches = [](const Wire& a, const Wire& b) {
    return a.toBox == b.toBox && a.toTool == b.toTool ? "matches" : "DIFFERS";
  };
  bool ok = true;

  int32_t packed = 0;
  int attemptRc = 0;
  const double attemptS = EncoderSeconds(random, packed, attemptRc, 3);
  std::printf("random data, %zu KiB: compression attempt %.1f ms (result %d: %s)\n\n", size / 1024,
              attemptS * 1000, attemptRc, attemptRc == 0 ? "compressed" : "sent plain");

  // (1) paced at the line rate.
  stb::sim::BoxOptions paced;
  paced.protocol = 0x30;
  paced.baud = kLineBaud;
  std::printf("(1) %zu KiB chunk download, uncompressed, box paced at %u baud%s\n", size / 1024,
              kLineBaud, fineWait ? " (the port's own 50 us waits)" : "");
  const Download p = RunSession(paced, random, 1, false, fineWait);
  if (p.rc != 0) {
    std::printf("    download failed: %d\n", p.rc);
    ok = false;
  } else {
    const double bound = LineSeconds(p.wire.Both(), kLineBaud);
    const double efficiency = bound / p.elapsedS;
    PrintWire("    ", p.wire);
    std::printf("    (packet arithmetic %s)\n", matches(expectedPlain, p.wire));
    std::printf("    line-rate bound %.3f s, elapsed %.3f s, efficiency %.4f (goal %.2f: %s)\n",
                bound, p.elapsedS, efficiency, kEfficiencyGoal,
                efficiency >= kEfficiencyGoal ? "met" : "missed");
    std::printf("    without the compression attempt: %.3f s, efficiency %.4f\n",
                p.elapsedS - attemptS, bound / (p.elapsedS - attemptS));
    std::printf("    transfer as seen on the port (command to last Ack): %.3f s, efficiency %.4f\n",
                p.transferS, bound / p.transferS);
    const double packets = static_cast<double>(p.samples.size());
    const double lineMs = LineSeconds(kDataPacketBytes + kAckBytes, kLineBaud) * 1000;
    const double cycleMs = p.dataS / packets * 1000;
    const Spread busy = SpreadOf(p.samples, [](const TurnSample& t) { return t.busyS; });
    const Spread first = SpreadOf(p.samples, [](const TurnSample& t) { return t.firstByteS; });
    const Spread rest = SpreadOf(p.samples, [](const TurnSample& t) { return t.restS; });
    std::printf(
        "    per data packet (mean / median): line time %.3f ms, cycle %.3f ms, %.3f ms "
        "over the line time\n",
        lineMs, cycleMs, cycleMs - lineMs);
    std::printf("      tool busy %.1f / %.1f us (max %.1f us)\n", busy.mean * 1e6,
                busy.median * 1e6, busy.max * 1e6);
    // The box hands its output to the pty in slices of about 2 ms of line time, so the
    // tool sees an Ack's first byte when its first slice has crossed the line.
    const double firstSliceMs = std::min(2.0, LineSeconds(kAckBytes, kLineBaud) * 1000);
    std::printf(
        "      Ack's 'H' read %.3f / %.3f ms after the packet's last byte was written "
        "(line time of the packet and the Ack's first slice: %.3f ms)\n",
        first.mean * 1000, first.median * 1000,
        LineSeconds(kDataPacketBytes, kLineBaud) * 1000 + firstSliceMs);
    std::printf(
        "      rest of the Ack read %.3f / %.3f ms later (line time of the rest: %.3f "
        "ms)\n",
        rest.mean * 1000, rest.median * 1000,
        LineSeconds(kAckBytes, kLineBaud) * 1000 - firstSliceMs);
    std::printf("    retries and framing errors logged: %u\n", p.logLines);
    if (efficiency < kEfficiencyGoal) ok = false;
  }

  // (2) unpaced: what the tool itself adds per packet.
  stb::sim::BoxOptions fast;
  fast.protocol = 0x30;
  std::printf(
      "\n(2) the same unpaced (the fastest data phase of 5 downloads; the last burned and "
      "compared)\n");
  const Download u = RunSession(fast, random, 5, true);
  if (u.rc != 0) {
    std::printf("    download failed: %d\n", u.rc);
    ok = false;
  } else {
    PrintWire("    ", u.wire);
    std::printf("    (packet arithmetic %s)\n", matches(expectedPlain, u.wire));
    const double packets = static_cast<double>(u.samples.size());
    const Spread busy = SpreadOf(u.samples, [](const TurnSample& t) { return t.busyS; });
    const Spread wait = SpreadOf(u.samples, [](const TurnSample& t) { return t.WaitS(); });
    std::printf(
        "    elapsed %.1f ms, of it the compression attempt about %.1f ms; data phase "
        "%.1f ms for %zu packets\n",
        u.elapsedS * 1000, attemptS * 1000, u.dataS * 1000, u.samples.size());
    std::printf(
        "    tool turnaround per packet (Ack read to the next packet's last byte "
        "written): mean %.1f us, median %.1f us, max %.1f us\n",
        busy.mean * 1e6, busy.median * 1e6, busy.max * 1e6);
    std::printf("    waiting for the Ack (box and pty): mean %.1f us, median %.1f us\n",
                wait.mean * 1e6, wait.median * 1e6);
    std::printf("    cycle %.1f us per packet, %.0f packets/s (%.2f MiB/s)\n",
                u.dataS / packets * 1e6, packets / u.dataS,
                packets * 1024.0 / u.dataS / (1024.0 * 1024.0));
    std::printf("    retries and framing errors logged: %u; flash after burn %s the data\n",
                u.logLines, u.flashMatches ? "equals" : "DIFFERS FROM");
    if (!u.flashMatches) ok = false;
  }

  // (3) the built-in flash as a whole image, compressed against plain.
  const Bytes image = stb::sim::BuildDefaultFlash();
  int encoderRc = 0;
  int32_t imagePacked = 0;
  const double encoderS = EncoderSeconds(image, imagePacked, encoderRc, 3);
  std::printf("\n(3) whole-image download of the built-in flash (%zu KiB)\n", image.size() / 1024);
  std::printf("    encoder (in-process liblzma): %.1f ms, %zu -> %d bytes (%.1f %%)\n",
              encoderS * 1000, image.size(), imagePacked,
              100.0 * imagePacked / static_cast<double>(image.size()));
  const Download c = RunSession(fast, image, 1, true);
  if (c.rc != 0 || encoderRc != 0) {
    std::printf("    compressed download failed: %d (encoder %d)\n", c.rc, encoderRc);
    ok = false;
  } else {
    const Wire zExpected = PlainDownloadWire(
        static_cast<uint64_t>(imagePacked),
        "transfer -z " + std::to_string(image.size()) + " " + std::to_string(imagePacked) + "\r");
    const Wire plain =
        PlainDownloadWire(image.size(), "transfer " + std::to_string(image.size()) + "\r");
    const double zLine = LineSeconds(c.wire.Both(), kLineBaud);
    const double plainLine = LineSeconds(plain.Both(), kLineBaud);
    PrintWire("    compressed, counted (unpaced box): ", c.wire);
    std::printf("      packet arithmetic %s; flash after burn %s the image\n",
                matches(zExpected, c.wire), c.flashMatches ? "equals" : "DIFFERS FROM");
    PrintWire("    uncompressed, packet arithmetic (as checked in (1) and (2)): ", plain);
    std::printf(
        "    line time at %u baud: compressed %.2f s, uncompressed %.2f s, saved %.2f s "
        "(%.1f %%)\n",
        kLineBaud, zLine, plainLine, plainLine - zLine, 100.0 * (plainLine - zLine) / plainLine);
    std::printf("    with the encoder's time: %.2f s against %.2f s, saved %.2f s\n",
                zLine + encoderS, plainLine, plainLine - zLine - encoderS);
    if (!c.flashMatches) ok = false;
  }
  return ok ? 0 : 1;
}
