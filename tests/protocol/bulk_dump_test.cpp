#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "context/error_table.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "protocol/bulk_transfer.h"
#include "protocol/packet.h"
#include "scripted_packet_box.h"

namespace stb {
namespace {

using test::Bytes;
using test::WirePacket;

constexpr size_t kGuard = 4096;
constexpr uint8_t kCanary = 0xA5;

// The box acknowledges the dump command and hands each request to the test. The
// buffer has a guard area behind its 0x200000 bytes that must stay untouched.
class DumpTest : public test::PacketBoxTest {
 protected:
  DumpTest() : buffer_(kDumpBufferSize + kGuard, kCanary) {
    box_.OnPacket([this](const WirePacket& p) {
      if (p.Is(PacketType::Command)) {
        box_.Status(LoaderStatus::Ack);
      } else if (p.Is(PacketType::Request) && onRequest_) {
        onRequest_(p.Number());
      }
    });
  }

  int Dump(uint32_t offset = 0, uint32_t length = 0) {
    return PacketDump(buffer_.data(), total_, &ReportProgress, &IsCancelRequested, offset, length);
  }
  std::vector<uint32_t> Requested() const {
    std::vector<uint32_t> out;
    for (const WirePacket& p : box_.Received(PacketType::Request)) out.push_back(p.Number());
    return out;
  }
  bool GuardIntact() const {
    return std::all_of(buffer_.begin() + kDumpBufferSize, buffer_.end(),
                       [](uint8_t b) { return b == kCanary; });
  }
  void Total(uint32_t total) { box_.Data(0, test::Be32(total)); }

  std::vector<uint8_t> buffer_;
  int32_t total_ = -1;
  std::function<void(uint32_t number)> onRequest_;
};

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13);
  return b;
}

TEST_F(DumpTest, ReadsTheAnnouncedTotalInTheBoxsPackets) {
  const Bytes first = Pattern(2040, 1), third = Pattern(920, 3);
  onRequest_ = [&](uint32_t n) {
    if (n == 0) Total(5000);
    if (n == 1) box_.Data(1, first);
    if (n == 2) box_.Blank(2, 2040);  // erased flash
    if (n == 3) box_.Data(3, third);
  };
  EXPECT_EQ(Dump(0, 0), 0);
  EXPECT_EQ(total_, 5000);
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{"dump 0 0\r"});
  EXPECT_EQ(Requested(), (std::vector<uint32_t>{0, 1, 2, 3}));
  for (const WirePacket& p : box_.Received()) EXPECT_EQ(p.sequence, 1u);
  EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + 2040), first);
  EXPECT_EQ(Bytes(buffer_.begin() + 2040, buffer_.begin() + 4080), Bytes(2040, 0xFF));
  EXPECT_EQ(Bytes(buffer_.begin() + 4080, buffer_.begin() + 5000), third);
  EXPECT_EQ(buffer_[5000], kCanary);
  EXPECT_EQ(Progress(), (std::vector<int64_t>{40, 81, 100}));
  EXPECT_TRUE(Logs().empty());
  EXPECT_EQ(port_->purgeOutputCount, 0);
}

TEST_F(DumpTest, RangeNumbersGoIntoTheCommand) {
  onRequest_ = [&](uint32_t n) {
    if (n == 0) Total(1);
    if (n == 1) box_.Data(1, {0x42});
  };
  EXPECT_EQ(Dump(4294967295u, 65536), 0);
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{"dump 4294967295 65536\r"});
  EXPECT_EQ(buffer_[0], 0x42);
}

TEST_F(DumpTest, WrongPacketNumberIsRequestedAgain) {
  bool once = false;
  onRequest_ = [&](uint32_t n) {
    if (n == 0) Total(6);
    if (n == 1) box_.Data(1, {1, 2, 3});
    if (n == 2) box_.Data(once ? 2 : 1, {4, 5, 6});
    once = once || n == 2;
  };
  EXPECT_EQ(Dump(), 0);
  EXPECT_EQ(Requested(), (std::vector<uint32_t>{0, 1, 2, 2}));
  EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + 6), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(port_->purgeOutputCount, 1);
}

TEST_F(DumpTest, FirstPacketWithAnotherNumberIsRequestedAgain) {
  int asks = 0;
  onRequest_ = [&](uint32_t n) {
    if (n == 0 && asks++ == 0)
      box_.Data(1, test::Be32(4));
    else if (n == 0)
      Total(1);
    if (n == 1) box_.Data(1, {9});
  };
  EXPECT_EQ(Dump(), 0);
  EXPECT_EQ(Requested(), (std::vector<uint32_t>{0, 0, 1}));
  EXPECT_EQ(total_, 1);
}

TEST_F(DumpTest, BoxVerdictsEndTheDump) {
  struct Case {
    const char* name;
    std::function<void()> answerFirst;
    int result;
    int32_t total;
  };
  const std::vector<Case> cases = {
      {"total 0", [this] { Total(0); }, err::kGeneric, 0},
      {"done", [this] { box_.Status(LoaderStatus::Done); }, err::kBoxNotDumpAll, 0x200000},
      {"small error", [this] { box_.Status(LoaderStatus::Error, 5); }, 5, 0x200000},
      {"box error", [this] { box_.Status(LoaderStatus::Error, 0x10001); }, 0x10001, 0x200000},
      {"error 0", [this] { box_.Status(LoaderStatus::Error, 0); }, err::kTargetError, 0x200000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = Requested().size();
    onRequest_ = [&](uint32_t) { c.answerFirst(); };
    EXPECT_EQ(Dump(), c.result);
    EXPECT_EQ(Requested().size() - before, 1u);
    EXPECT_EQ(total_, c.total);
  }
}

TEST_F(DumpTest, DoneAfterSomeDataKeepsWhatArrived) {
  onRequest_ = [&](uint32_t n) {
    if (n == 0) Total(100);
    if (n == 1) box_.Data(1, {7, 7});
    if (n == 2) box_.Status(LoaderStatus::Done);
  };
  EXPECT_EQ(Dump(), err::kBoxNotDumpAll);
  EXPECT_EQ(total_, 100);
  EXPECT_EQ(buffer_[1], 7);
}

// What does not fit the buffer ends the dump with 14 and writes nothing.
TEST_F(DumpTest, PacketsThatDoNotFitAreRefused) {
  struct Case {
    const char* name;
    std::function<void(uint32_t)> answer;
    int32_t total;
  };
  const std::vector<Case> cases = {
      {"total above the buffer", [this](uint32_t) { Total(0x200001); }, 0x200000},
      {"negative total", [this](uint32_t) { Total(0x80000000u); }, 0x200000},
      {"packet 0 without total",
       [this](uint32_t) {
         box_.Data(0, {0x00, 0x10});
       },
       0x200000},
      {"packet shorter than its number",
       [this](uint32_t n) {
         if (n == 0) Total(10);
         if (n == 1) box_.Send(test::Frame(1, box_.LastSequence(), Bytes{0, 0}));
       },
       10},
      {"blank packet shorter than its number",
       [this](uint32_t n) {
         if (n == 0) Total(10);
         if (n == 1) box_.Send(test::Frame(1, box_.LastSequence(), test::Be32(1), 1, 3));
       },
       10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::fill(buffer_.begin(), buffer_.end(), kCanary);
    onRequest_ = [&](uint32_t n) { c.answer(n); };
    EXPECT_EQ(Dump(), err::kDumpLength);
    EXPECT_EQ(total_, c.total);
    EXPECT_TRUE(
        std::all_of(buffer_.begin(), buffer_.end(), [](uint8_t b) { return b == kCanary; }));
  }
}

TEST_F(DumpTest, PacketRunningPastTheBufferIsRefused) {
  // 1028 packets of 2040 bytes leave 32 bytes of room; the next 2040 do not fit.
  onRequest_ = [&](uint32_t n) {
    if (n == 0)
      Total(0x200000);
    else
      box_.Blank(n, 2040);
  };
  EXPECT_EQ(Dump(), err::kDumpLength);
  EXPECT_EQ(Requested().size(), 1030u);
  EXPECT_EQ(buffer_[1028 * 2040 - 1], 0xFF);
  EXPECT_EQ(buffer_[1028 * 2040], kCanary);
  EXPECT_TRUE(GuardIntact());
}

TEST_F(DumpTest, WholeBufferCanBeFilled) {
  onRequest_ = [&](uint32_t n) {
    if (n == 0)
      Total(0x200000);
    else if (n <= 1028)
      box_.Blank(n, 2040);
    else
      box_.Data(n, Bytes(32, 0x11));
  };
  EXPECT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_[kDumpBufferSize - 1], 0x11);
  EXPECT_TRUE(GuardIntact());
  EXPECT_EQ(Progress().back(), 100);
}

TEST_F(DumpTest, FailuresWarnAtTheThirdAndDotAfterUntilOk) {
  // Packet 1 fails six times in different ways before it arrives; then packet 2
  // fails once, which after the reset warns nothing.
  int asks1 = 0, asks2 = 0;
  onRequest_ = [&](uint32_t n) {
    const uint32_t seq = box_.LastSequence();
    if (n == 0) Total(8);
    if (n == 1) {
      switch (asks1++) {
        case 0:
          break;  // silence
        case 1:
          box_.Send(test::DataFrame(seq - 1, 1, {1}));
          break;  // earlier exchange
        case 2:
          box_.Send(Bytes{'H', 'E', 'x', 0, 1, 2});
          break;  // garbage
        case 3:
          box_.Status(LoaderStatus::Ack);
          break;
        case 4:
          box_.Send(test::Frame(2, seq, test::Be32(1)));
          break;  // a request
        case 5:
          box_.Data(7, {1});
          break;
        default:
          box_.Data(1, {1, 1, 1, 1});
      }
    }
    if (n == 2 && asks2++ == 0)
      box_.Data(1, {0});
    else if (n == 2)
      box_.Data(2, {2, 2, 2, 2});
  };
  EXPECT_EQ(Dump(), 0);
  EXPECT_EQ(Logs(), (std::vector<std::string>{"\r\n->Warning:dump packet:1 Error! Retry.", ".", ".",
                                              ".", "OK"}));
  EXPECT_EQ(port_->purgeOutputCount, 7);  // the six retries of 1 and the one of 2
  EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + 8), (Bytes{1, 1, 1, 1, 2, 2, 2, 2}));
}

TEST_F(DumpTest, CancelSendsAbortAndStops) {
  onRequest_ = [&](uint32_t n) {
    if (n == 0) Total(100);
    if (n == 1) {
      box_.Data(1, {1});
      CancelRequested() = 1;
    }
  };
  EXPECT_EQ(Dump(), err::kCancelled);
  EXPECT_EQ(Requested(), (std::vector<uint32_t>{0, 1}));
  const auto status = box_.Received(PacketType::Status);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].payload, (Bytes{4, 0, 0, 0, 0}));
  EXPECT_EQ(status[0].sequence, 1u);
}

TEST_F(DumpTest, SendAndOpenFailures) {
  onRequest_ = nullptr;
  box_.OnPacket([this](const WirePacket& p) {
    if (p.Is(PacketType::Command)) {
      box_.Status(LoaderStatus::Ack);
      port_->writeBudget = 0;
    }
  });
  EXPECT_EQ(Dump(), err::kSendPacket);

  port_->writeBudget = -1;
  box_.DropPending();
  box_.ClearReceived();
  box_.OnPacket([this](const WirePacket&) { box_.Status(LoaderStatus::Error, 0x10002); });
  EXPECT_EQ(Dump(), 0x10002);
  EXPECT_TRUE(box_.Received(PacketType::Request).empty());
}

// A box that answers with anything at all: garbage, foreign packets, wrong numbers,
// oversized announcements, now and then a fitting packet. The dump ends only by
// cancel or a verdict of the box, and writes nothing past its buffer.
TEST_F(DumpTest, HostileBoxNeverWritesPastTheBuffer) {
  std::mt19937 rng(1234);
  int requests = 0;
  onRequest_ = [&](uint32_t n) {
    if (++requests > 3000) CancelRequested() = 1;
    const uint32_t seq = box_.LastSequence();
    Bytes junk(rng() % 40);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    if (n == 0 && rng() % 2 == 0) return Total(rng() % kDumpBufferSize + 1);
    switch (rng() % 9) {
      case 0:
        box_.Send(junk);
        break;
      case 1: {
        const uint8_t types[] = {0, 2, 3, 7};
        box_.Send(test::Frame(types[rng() % 4], seq, junk, rng() % 2, rng() % 3000));
        break;
      }
      case 2:
        box_.Send(test::Frame(1, seq, test::Be32(n), 1, 4 + rng() % 2100));
        break;
      case 3:
        box_.Data(n, Bytes(rng() % 2041, 0x5A));
        break;
      case 4:
        box_.Data(n + 1 + rng() % 3, Bytes(rng() % 100, 0x5B));
        break;
      case 5:
        box_.Send(test::DataFrame(seq + 1 + rng() % 3, n, junk));
        break;
      case 6:
        break;
      case 7:
        box_.Status(static_cast<LoaderStatus>(rng() % 2 == 0 ? 0 : 2), rng());
        break;
      default:
        if (rng() % 50 == 0)
          box_.Status(LoaderStatus::Error, rng());
        else
          box_.Blank(n, rng() % 2041);
    }
  };
  for (int run = 0; run < 10; ++run) {
    CancelRequested() = 0;
    requests = 0;
    const int result = Dump();
    EXPECT_TRUE(GuardIntact());
    EXPECT_GE(total_, result == 0 ? 1 : 0);
    EXPECT_LE(total_, static_cast<int32_t>(kDumpBufferSize));
  }
}

TEST_F(DumpTest, WarningLevelFiltersFramingLinesButNotTransferLines) {
  GetContext()->WarningLevel = 1;
  int asks = 0;
  onRequest_ = [&](uint32_t n) {
    if (n == 0) Total(1);
    if (n == 1 && asks++ < 3) {
      Bytes b = test::DataFrame(box_.LastSequence(), 1, {1});
      b[16] ^= 1;  // header CRC error, logged at level 0
      box_.Send(b);
    } else if (n == 1) {
      box_.Data(1, {1});
    }
  };
  EXPECT_EQ(Dump(), 0);
  GetContext()->WarningLevel = 0;
  EXPECT_EQ(Logs(), std::vector<std::string>{"\r\n->Warning:dump packet:1 Error! Retry."});
}

}  // namespace
}  // namespace stb
