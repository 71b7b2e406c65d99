// Runs the real stb-upgrade-cli as a child process, for tests against the emulated box.
#pragma once

#include <string>
#include <vector>

namespace stb::test {

struct CliResult {
  int exitCode = -1;  // 128 + signal when the child was killed
  std::string out;
  std::string err;
};

struct CliSignal {
  std::string whenStderrHas;  // send the signal once stderr holds this text
  int signal = 0;             // 0 = none
};

// Runs the command line with args (after the program name). A child that runs past
// timeoutMs is killed.
CliResult RunCli(const std::vector<std::string>& args, const CliSignal& signal = {},
                 int timeoutMs = 120000);

}  // namespace stb::test
