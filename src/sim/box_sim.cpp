#include "sim/box_sim.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/box_context.h"
#include "sim/serve_loop.h"

namespace stb::sim {

struct BoxSimulator::Impl {
  explicit Impl(BoxOptions o)
      : options(std::move(o)),
        log(options.log, options.logSink),
        faults(options.faults, options.seed) {}

  BoxOptions options;
  BoxLog log;
  FaultState faults;
  FlashModel flash;
  PtyLine line;
  BoxCounters counters;
  std::thread thread;
  std::string error;
  bool linked = false;
  bool running = false;
};

namespace {
bool CheckOptions(const BoxOptions& o, std::string& error) {
  if (o.protocol == 0 || o.protocol > 0xFFFF) {
    error = "protocol must be 1 to 65535 (48 and above: packet box)";
    return false;
  }
  // The legacy marker is 0xB700 plus the version, in two bytes.
  if (o.protocol < 0x30 && o.reportVersion > 0x48FF) {
    error = "a legacy box reports versions up to 0x48FF";
    return false;
  }
  if (o.reportVersion > 0xFFFFFFFFll) {
    error = "the reported version is a 32-bit number";
    return false;
  }
  if (o.dumpPacket < 1 || o.dumpPacket > 2040) {
    error = "dump packets carry 1 to 2040 data bytes";
    return false;
  }
  return true;
}
}  // namespace

BoxSimulator::BoxSimulator(BoxOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

BoxSimulator::~BoxSimulator() {
  Stop();
}

bool BoxSimulator::Start() {
  Impl& s = *impl_;
  if (s.running) return true;
  s.error.clear();
  if (!CheckOptions(s.options, s.error) || !s.flash.Load(s.options, s.error)) return false;
  if (!s.line.Open(s.error)) return false;
  s.line.SetBaud(s.options.baud);
  if (!s.options.linkPath.empty()) {
    // Replace an old link, never a file that is not one.
    char target[4096];
    if (readlink(s.options.linkPath.c_str(), target, sizeof target) >= 0)
      ::unlink(s.options.linkPath.c_str());
    if (symlink(s.line.SlavePath().c_str(), s.options.linkPath.c_str()) != 0) {
      s.error = s.options.linkPath + ": " + std::strerror(errno);
      s.line.Close();
      return false;
    }
    s.linked = true;
  }
  s.running = true;
  s.thread = std::thread([this] {
    Impl& i = *impl_;
    BoxContext ctx{i.options, i.line, i.flash, i.faults, i.log, i.counters};
    ServeLoop(ctx);
  });
  return true;
}

const std::string& BoxSimulator::LastError() const {
  return impl_->error;
}

std::string BoxSimulator::SlavePath() const {
  return impl_->line.SlavePath();
}

void BoxSimulator::Stop() {
  Impl& s = *impl_;
  if (!s.running) return;
  s.line.RequestStop();
  if (s.thread.joinable()) s.thread.join();
  if (s.linked) ::unlink(s.options.linkPath.c_str());
  s.linked = false;
  s.line.Close();
  s.running = false;
  s.log.Line("stopped");
}

bool BoxSimulator::Running() const {
  return impl_->running;
}

std::vector<uint8_t> BoxSimulator::Flash() const {
  return impl_->flash.Snapshot();
}

BoxStats BoxSimulator::Stats() const {
  const BoxCounters& c = impl_->counters;
  BoxStats s;
  s.handshakes = c.handshakes;
  s.commandsExecuted = c.commandsExecuted;
  s.repeatsAnswered = c.repeatsAnswered;
  s.framingErrors = c.framingErrors;
  s.burns = c.burns;
  s.reboots = c.reboots;
  s.repliesSent = c.repliesSent;
  return s;
}

}  // namespace stb::sim
