// An emulated box on a pseudo-terminal and a scratch folder, for running the real
// command line against it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"
#include "image_builder.h"
#include "sim/box_sim.h"

namespace stb::test {

class BoxFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    if (box_) box_->Stop();
  }

  // Starts a box; its log lines are kept for LogHas.
  void StartBox(sim::BoxOptions options) {
    {
      std::lock_guard<std::mutex> lock(logMutex_);
      log_.clear();
    }
    options.log = true;
    options.logSink = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(logMutex_);
      log_.push_back(line);
    };
    box_ = std::make_unique<sim::BoxSimulator>(std::move(options));
    ASSERT_TRUE(box_->Start()) << box_->LastError();
  }
  void StartBox(uint32_t protocol) {
    sim::BoxOptions options;
    options.protocol = protocol;
    StartBox(std::move(options));
  }

  // The command line against the box, with a settings file of the test's own.
  CliResult Cli(std::vector<std::string> args, const CliSignal& signal = {}) {
    if (ini_.empty()) SetIni("");
    std::vector<std::string> full = {"--device", box_->SlavePath(), "--ini", ini_};
    full.insert(full.end(), args.begin(), args.end());
    return RunCli(full, signal);
  }
  void SetIni(const std::string& configLines) {
    const std::string text = "[Config]\nBaud=115200\nParity=2\n" + configLines;
    ini_ = dir_.Write("Upgrade.ini", std::vector<uint8_t>(text.begin(), text.end()));
  }

  bool LogHas(const std::string& text) {
    std::lock_guard<std::mutex> lock(logMutex_);
    for (const std::string& line : log_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  // The box handles what the tool sent last after the tool has ended; give it time.
  bool LogShows(const std::string& text, int withinMs = 2000) {
    for (int waited = 0; waited < withinMs; waited += 20) {
      if (LogHas(text)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return LogHas(text);
  }

  std::unique_ptr<sim::BoxSimulator> box_;
  TempDir dir_;
  std::string ini_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

// Where chunk i of a flash chain starts and how many bytes it spans.
struct ChunkPlace {
  uint32_t id;
  size_t start;
  size_t span;
};
std::vector<ChunkPlace> ChunkPlaces(const std::vector<uint8_t>& flash);

}  // namespace stb::test
