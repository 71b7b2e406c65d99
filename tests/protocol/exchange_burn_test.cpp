#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "context/error_table.h"
#include "context/notifications.h"
#include "protocol/command_exchange.h"
#include "protocol/packet.h"
#include "scripted_packet_box.h"

namespace stb {
namespace {

using test::Bytes;
using test::WirePacket;

// The box acknowledges "burn\r" and then sends the frames a test gives, each after
// its own delay (counted from the ack), built in the sequence of the burn command.
class BurnTest : public test::PacketBoxTest {
 protected:
  using Make = std::function<Bytes(uint32_t sequence)>;
  struct Timed {
    Make make;
    uint32_t delayMs = 0;
  };
  void AfterAck(std::vector<Timed> frames) {
    box_.OnPacket([this, frames](const WirePacket& p) {
      if (!p.Is(PacketType::Command) || p.Text() != "burn\r") return;
      box_.Status(LoaderStatus::Ack);
      for (const Timed& f : frames) box_.Send(f.make(p.sequence), f.delayMs);
    });
  }
  static Make Marker(const std::string& text) {
    return
        [text](uint32_t seq) { return test::DataFrame(seq, 0, Bytes(text.begin(), text.end())); };
  }
  static Make StatusOf(LoaderStatus s, uint32_t value = 0) {
    return [s, value](uint32_t seq) { return test::StatusFrame(seq, s, value); };
  }
};

TEST_F(BurnTest, ProgressReportsThenFinish) {
  AfterAck({{Marker("B0512")}, {Marker("B9999")}, {Marker("F")}});
  EXPECT_EQ(PacketBurn(1048576, &ReportProgress), 0);
  EXPECT_EQ(Progress(), (std::vector<int64_t>{50, 100, 100}));
}

TEST_F(BurnTest, EndsOnTheBoxVerdict) {
  struct Case {
    const char* name;
    std::vector<Make> frames;
    int result;
    std::vector<int64_t> progress;
  };
  const std::vector<Case> cases = {
      {"marker E", {Marker("B0001"), Marker("E")}, err::kBurnFailed, {0}},
      {"done", {StatusOf(LoaderStatus::Working), StatusOf(LoaderStatus::Done)}, 0, {100}},
      {"small error", {StatusOf(LoaderStatus::Error, 4)}, 4, {}},
      {"box error", {StatusOf(LoaderStatus::Error, 0x10004)}, 0x10004, {}},
      {"error 0 is no success", {StatusOf(LoaderStatus::Error, 0)}, err::kTargetError, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    std::vector<Timed> timed;
    for (const Make& m : c.frames) timed.push_back({m});
    AfterAck(timed);
    EXPECT_EQ(PacketBurn(1048576, &ReportProgress), c.result);
    EXPECT_EQ(Progress(), c.progress);
  }
}

TEST_F(BurnTest, ProgressDigitsAndTotals) {
  struct Case {
    std::string marker;
    int32_t total;
    int64_t percent;
  };
  // With a total of 102400 bytes the percent equals the units burnt.
  const std::vector<Case> cases = {
      {"B0050", 102400, 50},  {"B 7 9", 102400, 7},  {"B+012", 102400, 12},
      {"B-001", 102400, 0},   {"B12ab", 102400, 12}, {"B00123", 102400, 12},
      {"B3", 102400, 3},      {"Bx", 102400, 0},     {"B0512", 0, 0},
      {"B0512", -1048576, 0}, {"B9999", 1, 100},     {"B0001", 2147483647, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marker + " " + std::to_string(c.total));
    window_->Clear();
    AfterAck({{Marker(c.marker)}, {Marker("F")}});
    EXPECT_EQ(PacketBurn(c.total, &ReportProgress), 0);
    EXPECT_EQ(Progress(), (std::vector<int64_t>{c.percent, 100}));
  }
}

TEST_F(BurnTest, SilenceEndsWithOverrunAfterFiveWaits) {
  AfterAck({});
  const uint32_t start = clock_->NowMs();
  EXPECT_EQ(PacketBurn(1048576, &ReportProgress), err::kOverrunRetry);
  const uint32_t spent = clock_->NowMs() - start;
  EXPECT_GE(spent, 50000u);
  EXPECT_LT(spent, 50100u);
}

TEST_F(BurnTest, WorkingAndProgressSetTheCountBack) {
  // Four silent waits, then a sign of life in the fifth, twice over, then done.
  AfterAck({{StatusOf(LoaderStatus::Working), 45000},
            {Marker("B0100"), 90000},
            {StatusOf(LoaderStatus::Done), 135000}});
  EXPECT_EQ(PacketBurn(1048576, &ReportProgress), 0);
  EXPECT_EQ(Progress(), (std::vector<int64_t>{9, 100}));
}

// Packets that say nothing of the burn are passed over: only silence counts.
TEST_F(BurnTest, UnrelatedPacketsAreNoFailedWaits) {
  AfterAck({{[](uint32_t seq) { return test::StatusFrame(seq - 1, LoaderStatus::Done, 0); }},
            {[](uint32_t seq) { return test::DataFrame(seq + 1, 0, {'F'}); }},
            {StatusOf(LoaderStatus::Ack)},
            {Marker("X")},
            {[](uint32_t seq) { return test::DataFrame(seq, 0, {}); }},
            {StatusOf(LoaderStatus::Done)}});
  EXPECT_EQ(PacketBurn(1048576, &ReportProgress), 0);
  EXPECT_EQ(Progress(), (std::vector<int64_t>{100}));
}

TEST_F(BurnTest, FailedBurnCommandIsPassedOn) {
  box_.OnPacket([this](const WirePacket&) { box_.Status(LoaderStatus::Error, 0x10002); });
  EXPECT_EQ(PacketBurn(1048576, &ReportProgress), 0x10002);
}

}  // namespace
}  // namespace stb
