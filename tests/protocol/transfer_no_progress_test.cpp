// Downloads and dumps that get nowhere end after 30 s with the box's last answer;
// slow ones that keep moving are not cut off.
#include <gtest/gtest.h>

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

// Every answer of the box takes this long, so a box that answers at once still lets
// the (virtual) time run.
constexpr uint32_t kAnswerMs = 100;

Bytes BadHeaderCrc(Bytes frame) {
  frame[15] ^= 0x5A;
  return frame;
}

// Random bytes: they do not compress, so a download sends them all.
Bytes Pattern(size_t n) {
  std::mt19937 rng(static_cast<uint32_t>(n));
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// The box answers the opening command with `opened` and hands every data packet and
// request of the transfer to the test.
class NoProgressTest : public test::PacketBoxTest {
 protected:
  NoProgressTest() {
    box_.OnPacket([this](const WirePacket& p) {
      if (p.Is(PacketType::Command)) {
        box_.Status(opened_);
      } else if ((p.Is(PacketType::Data) || p.Is(PacketType::Request)) && onPacket_) {
        onPacket_(p);
      }
    });
  }
  // The time from the opening command to the end of the transfer.
  uint32_t Spent() { return clock_->NowMs() - openedAt_; }
  void MarkOpen() { openedAt_ = clock_->NowMs(); }
  // Lets the answers still on their way to the tool arrive, and drops them, so they
  // do not meet the next case's command.
  void Settle() {
    clock_->Advance(5000);
    port_->PurgeInput();
  }

  LoaderStatus opened_ = LoaderStatus::Ack;
  std::function<void(const WirePacket&)> onPacket_;
  uint32_t openedAt_ = 0;
};

using Answer = std::function<void(test::ScriptedPacketBox&, const WirePacket&)>;

struct StallCase {
  const char* name;
  Answer answer;
  int result;
};

// Answers a box stuck in each of the ways the transfers know, for both of them.
std::vector<StallCase> StallCases() {
  return {
      {"silent", [](test::ScriptedPacketBox&, const WirePacket&) {}, err::kNoPacket},
      {"busy",
       [](test::ScriptedPacketBox& box, const WirePacket&) {
         box.Status(LoaderStatus::Working, 0, kAnswerMs);
       },
       err::kPacketUnrecognised},
      {"garbled",
       [](test::ScriptedPacketBox& box, const WirePacket& p) {
         box.Send(BadHeaderCrc(test::StatusFrame(p.sequence, LoaderStatus::Ack, p.Number())),
                  kAnswerMs);
       },
       err::kHeadCrc},
      {"another exchange",
       [](test::ScriptedPacketBox& box, const WirePacket& p) {
         box.Send(test::StatusFrame(p.sequence - 1, LoaderStatus::Ack, p.Number()), kAnswerMs);
       },
       err::kPacketUnrecognised},
  };
}

class DownloadNoProgressTest : public NoProgressTest {
 protected:
  int Download(Bytes& data) {
    MarkOpen();
    return PacketDownload(data.data(), static_cast<int32_t>(data.size()), &ReportProgress,
                          &IsCancelRequested);
  }
};

TEST_F(DownloadNoProgressTest, StalledBoxEndsAfterThirtySecondsWithItsLastAnswer) {
  std::vector<StallCase> cases = StallCases();
  cases.push_back({"holds on to the packet before",
                   [](test::ScriptedPacketBox& box, const WirePacket& p) {
                     box.Status(LoaderStatus::Ack, p.Number() - 1, kAnswerMs);
                   },
                   err::kPacketUnrecognised});
  for (const StallCase& c : cases) {
    SCOPED_TRACE(c.name);
    box_.ClearReceived();
    onPacket_ = [this, &c](const WirePacket& p) { c.answer(box_, p); };
    Bytes data = Pattern(3000);
    EXPECT_EQ(Download(data), c.result);
    EXPECT_GE(Spent(), 30000u);
    EXPECT_LT(Spent(), 32000u);
    Settle();
  }
}

// Small errors are repeated; when they never come twice alike, only the time ends
// the download, with the value of the last one.
TEST_F(DownloadNoProgressTest, ChangingSmallErrorsEndWithTheLastOne) {
  uint32_t value = 100;
  onPacket_ = [&](const WirePacket&) { box_.Status(LoaderStatus::Error, ++value, kAnswerMs); };
  Bytes data = Pattern(3000);
  const int result = Download(data);
  EXPECT_EQ(result, static_cast<int>(value));
  EXPECT_GE(Spent(), 30000u);
  EXPECT_GT(value, 200u);
}

// The box of the review: "transfer" answered with Working or Done and then nothing
// but that, or nothing at all.
TEST_F(DownloadNoProgressTest, TransferAnsweredWithWorkingOrDoneEnds) {
  struct Case {
    LoaderStatus opened;
    bool answers;
    int result;
  };
  for (const Case& c : {Case{LoaderStatus::Working, true, err::kPacketUnrecognised},
                        Case{LoaderStatus::Done, false, err::kNoPacket}}) {
    SCOPED_TRACE(static_cast<int>(c.opened));
    opened_ = c.opened;
    onPacket_ = [this, &c](const WirePacket&) {
      if (c.answers) box_.Status(c.opened, 0, kAnswerMs);
    };
    Bytes data = Pattern(3000);
    EXPECT_EQ(Download(data), c.result);
    EXPECT_GE(Spent(), 30000u);
    EXPECT_LT(Spent(), 32000u);
    Settle();
  }
}

// Each packet is acknowledged only after a lost ack and a query (about 1.6 s a
// packet): 30 packets take far longer than 30 s, and all arrive.
TEST_F(DownloadNoProgressTest, SlowButMovingDownloadIsNotCutOff) {
  uint32_t held = 0;
  onPacket_ = [&](const WirePacket& p) {
    if (p.Is(PacketType::Data)) return;  // its ack is lost
    held = p.Number();
    box_.Status(LoaderStatus::Ack, held, kAnswerMs);
  };
  Bytes data = Pattern(30 * 1024);
  EXPECT_EQ(Download(data), 0);
  EXPECT_EQ(held, 30u);
  EXPECT_GT(Spent(), 45000u);
  EXPECT_EQ(Progress().back(), 100);
}

class DumpNoProgressTest : public NoProgressTest {
 protected:
  DumpNoProgressTest() : buffer_(kDumpBufferSize) {}
  int Dump() {
    MarkOpen();
    return PacketDump(buffer_.data(), total_, &ReportProgress, &IsCancelRequested, 0, 0);
  }
  Bytes buffer_;
  int32_t total_ = -1;
};

TEST_F(DumpNoProgressTest, StalledBoxEndsAfterThirtySecondsWithItsLastAnswer) {
  std::vector<StallCase> cases = StallCases();
  cases.push_back({"sends the wrong packet",
                   [](test::ScriptedPacketBox& box, const WirePacket& p) {
                     box.Data(p.Number() + 1, Bytes(4, 0), kAnswerMs);
                   },
                   err::kPacketUnrecognised});
  for (const StallCase& c : cases) {
    SCOPED_TRACE(c.name);
    onPacket_ = [this, &c](const WirePacket& p) { c.answer(box_, p); };
    EXPECT_EQ(Dump(), c.result);
    EXPECT_GE(Spent(), 30000u);
    EXPECT_LT(Spent(), 32000u);
    Settle();
  }
}

// The total and two packets come (the last at 3.1 s), then the box stalls: the 30 s
// count from the last packet taken.
TEST_F(DumpNoProgressTest, StallAfterDataCountsFromTheLastPacket) {
  onPacket_ = [this](const WirePacket& p) {
    if (p.Number() == 0) box_.Data(0, test::Be32(10000), kAnswerMs);
    if (p.Number() == 1 || p.Number() == 2) box_.Data(p.Number(), Pattern(1000), 1500);
  };
  EXPECT_EQ(Dump(), err::kNoPacket);
  EXPECT_EQ(total_, 10000);
  EXPECT_GE(Spent(), 33000u);
  EXPECT_LT(Spent(), 34000u);
}

// Each packet comes late, after a timed-out request and a second one: slow, but
// the dump goes on past 30 s to its end.
TEST_F(DumpNoProgressTest, SlowButMovingDumpIsNotCutOff) {
  uint32_t asked = 0;
  const Bytes part = Pattern(500);
  onPacket_ = [&](const WirePacket& p) {
    if (++asked % 2 == 1) return;  // the first request for each packet goes unanswered
    if (p.Number() == 0)
      box_.Data(0, test::Be32(20 * 500), kAnswerMs);
    else
      box_.Data(p.Number(), part, kAnswerMs);
  };
  EXPECT_EQ(Dump(), 0);
  EXPECT_EQ(total_, 10000);
  EXPECT_GT(Spent(), 40000u);
  EXPECT_EQ(Bytes(buffer_.begin() + 9500, buffer_.begin() + 10000), part);
}

}  // namespace
}  // namespace stb
