// The CPU a handshake costs while it waits on a silent line.
//
// Opens the slave end of a fresh pseudo-terminal as the serial port (real clock, real
// termios port), keeps the master end open and silent, runs Handshake for a few
// seconds and cancels it; prints the process's CPU time (user + system, getrusage) as
// percent of one core over that wall time. Exits 1 when it is 1 % or more.
//
//   bench_handshake_idle_cpu [seconds]   (default 5)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "context/upgrade_context.h"
#include "link/link.h"
#include "link/port.h"
#include "link/serial_port.h"

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int> attemptsStarted{0};

// The cancel query: asked once at the start of every attempt.
int StopWhenAsked() {
  if (stopRequested.load()) return 1;
  attemptsStarted.fetch_add(1);
  return 0;
}

double CpuSeconds() {
  struct rusage u {};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
    return 2;
  }
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char slave[128] = {};
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, slave, sizeof slave) != 0) {
    std::fprintf(stderr, "no pseudo-terminal: %s\n", std::strerror(errno));
    return 2;
  }
  stb::GetSerialSettings().Device = slave;
  if (stb::PortOpen(1, 115200, 2, 1) != 0) {
    std::fprintf(stderr, "PortOpen %s: %s\n", slave, stb::ActivePort().LastOpenError().c_str());
    return 2;
  }

  uint32_t version = 0;
  int result = -1;
  const auto wall0 = std::chrono::steady_clock::now();
  const double cpu0 = CpuSeconds();
  std::thread worker([&] { result = stb::Handshake(version, &StopWhenAsked); });
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stopRequested.store(true);
  worker.join();
  const double cpu = CpuSeconds() - cpu0;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  stb::PortClose();
  ::close(master);

  const double percent = 100.0 * cpu / wall;
  std::printf("handshake on a silent pty: %.2f s wall, %.4f s CPU, %d attempts, result %d\n", wall,
              cpu, attemptsStarted.load(), result);
  std::printf("idle CPU: %.3f %% of one core (limit 1 %%)\n", percent);
  return percent < 1.0 && result == 6 ? 0 : 1;
}
