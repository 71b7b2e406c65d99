// stb-box-sim: the emulated box for the shell, demos and end-to-end runs.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/box_cli.h"
#include "sim/box_sim.h"

namespace {
volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  stb::sim::BoxOptions options;
  std::string error;
  switch (stb::sim::ParseBoxArguments(args, options, error)) {
    case stb::sim::CliOutcome::Help:
      std::fputs(stb::sim::BoxHelpText().c_str(), stdout);
      return 0;
    case stb::sim::CliOutcome::Error:
      std::fprintf(stderr, "stb-box-sim: %s\n", error.c_str());
      return 2;
    case stb::sim::CliOutcome::Run:
      break;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  stb::sim::BoxSimulator box(options);
  if (!box.Start()) {
    std::fprintf(stderr, "stb-box-sim: %s\n", box.LastError().c_str());
    return 1;
  }
  std::printf("%s\n", box.SlavePath().c_str());
  std::fflush(stdout);
  while (g_stop == 0) {
    const struct timespec pause { 0, 50'000'000 };
    nanosleep(&pause, nullptr);
  }
  box.Stop();
  return 0;
}
