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

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// The box acknowledges the transfer command and hands data and request packets to
// the test; by default it acknowledges every data packet with its number.
class DownloadTest : public test::PacketBoxTest {
 protected:
  DownloadTest() {
    box_.OnPacket([this](const WirePacket& p) {
      if (p.Is(PacketType::Command)) {
        box_.Status(LoaderStatus::Ack);
      } else if (p.Is(PacketType::Data)) {
        if (onData_)
          onData_(p);
        else
          box_.Status(LoaderStatus::Ack, p.Number());
      } else if (p.Is(PacketType::Request) && onRequest_) {
        onRequest_(p.Number());
      }
    });
  }

  int Download(Bytes& data) {
    return PacketDownload(data.data(), static_cast<int32_t>(data.size()), &ReportProgress,
                          &IsCancelRequested);
  }
  // What the tool sent after the command: 'D' + number for data, 'R' + number for a
  // request, 'S' for a status.
  std::vector<std::string> Trail() const {
    std::vector<std::string> out;
    for (const WirePacket& p : box_.Received()) {
      if (p.Is(PacketType::Data)) out.push_back("D" + std::to_string(p.Number()));
      if (p.Is(PacketType::Request)) out.push_back("R" + std::to_string(p.Number()));
      if (p.Is(PacketType::Status)) out.push_back("S");
    }
    return out;
  }
  Bytes SentData() const {
    Bytes out;
    for (const WirePacket& p : box_.Received(PacketType::Data)) {
      const Bytes d = p.Data();
      out.insert(out.end(), d.begin(), d.end());
    }
    return out;
  }

  std::function<void(const WirePacket&)> onData_;
  std::function<void(uint32_t)> onRequest_;
};

TEST_F(DownloadTest, SendsIncompressibleDataPlainInPacketsOf1024) {
  const Bytes original = Random(2500, 1);
  Bytes data = original;
  EXPECT_EQ(Download(data), 0);
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{"transfer 2500\r"});
  const auto packets = box_.Received(PacketType::Data);
  ASSERT_EQ(packets.size(), 3u);
  const size_t sizes[] = {1024, 1024, 452};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(packets[i].Number(), i + 1);
    EXPECT_EQ(packets[i].Data().size(), sizes[i]);
    EXPECT_EQ(packets[i].sequence, 1u);
    EXPECT_EQ(packets[i].retry, 0);
  }
  EXPECT_EQ(SentData(), original);
  EXPECT_EQ(data, original);
  EXPECT_EQ(Progress(), (std::vector<int64_t>{40, 81, 100}));
  EXPECT_TRUE(Logs().empty());
  EXPECT_EQ(port_->purgeOutputCount, 0);
}

TEST_F(DownloadTest, CompressibleDataGoesCompressed) {
  Bytes data(64 * 1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 256);
  EXPECT_EQ(Download(data), 0);
  const auto commands = box_.Commands();
  ASSERT_EQ(commands.size(), 1u);
  unsigned plain = 0, packed = 0;
  ASSERT_EQ(std::sscanf(commands[0].c_str(), "transfer -z %u %u\r", &plain, &packed), 2)
      << commands[0];
  EXPECT_EQ(commands[0], "transfer -z 65536 " + std::to_string(packed) + "\r");
  EXPECT_GT(packed, 0u);
  EXPECT_LT(packed, 65536u);
  // Exactly the compressed bytes that now stand in the buffer go to the box.
  EXPECT_EQ(SentData(), Bytes(data.begin(), data.begin() + packed));
  EXPECT_EQ(box_.Received(PacketType::Data).size(), (packed + 1023) / 1024);
  EXPECT_EQ(Progress().back(), 100);
}

TEST_F(DownloadTest, SizeZeroSendsOnlyTheCommand) {
  Bytes data;
  EXPECT_EQ(PacketDownload(data.data(), 0, &ReportProgress, &IsCancelRequested), 0);
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{"transfer 0\r"});
  EXPECT_EQ(box_.Received().size(), 1u);
  EXPECT_TRUE(Progress().empty());
}

TEST_F(DownloadTest, NegativeSizeIsRefusedBeforeAnythingIsSent) {
  uint8_t byte = 0;
  EXPECT_EQ(PacketDownload(&byte, -1, &ReportProgress, &IsCancelRequested), err::kGeneric);
  EXPECT_TRUE(port_->Written().empty());
}

TEST_F(DownloadTest, LostAckIsAskedForWithARequest) {
  struct Case {
    const char* name;
    uint32_t heldWhenAsked;  // the box's answer to the request for packet 2
    std::vector<std::string> trail;
  };
  const std::vector<Case> cases = {
      {"box holds it", 2, {"D1", "D2", "R2", "D3"}},
      {"box holds the one before", 1, {"D1", "D2", "R2", "D2", "D3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box_.ClearReceived();
    window_->Clear();
    int seen2 = 0;
    onData_ = [&](const WirePacket& p) {
      if (p.Number() == 2 && seen2++ == 0) return;  // its ack gets lost
      box_.Status(LoaderStatus::Ack, p.Number());
    };
    onRequest_ = [&](uint32_t) { box_.Status(LoaderStatus::Ack, c.heldWhenAsked); };
    const Bytes original = Random(3000, 2);
    Bytes data = original;
    EXPECT_EQ(Download(data), 0);
    EXPECT_EQ(Trail(), c.trail);
    const Bytes sent = box_.Received(PacketType::Data).back().Data();
    EXPECT_EQ(sent, Bytes(original.begin() + 2048, original.end()));
    EXPECT_EQ(Progress(), (std::vector<int64_t>{34, 68, 100}));
    EXPECT_TRUE(Logs().empty());
  }
}

TEST_F(DownloadTest, RepliesThatFailTheCycle) {
  struct Case {
    const char* name;
    std::function<void(const WirePacket&)> firstReply;
  };
  const std::vector<Case> cases = {
      {"silence", [](const WirePacket&) {}},
      {"earlier sequence",
       [this](const WirePacket& p) {
         box_.Send(test::StatusFrame(p.sequence - 1, LoaderStatus::Ack, 1));
       }},
      {"data packet", [this](const WirePacket&) { box_.Data(1, {}); }},
      {"working", [this](const WirePacket&) { box_.Status(LoaderStatus::Working, 1); }},
      {"small error", [this](const WirePacket&) { box_.Status(LoaderStatus::Error, 9); }},
      {"short status", [this](const WirePacket& p) { box_.Send(test::Frame(3, p.sequence, {0})); }},
      {"garbage",
       [this](const WirePacket&) {
         box_.Send(Bytes{'H', 'E', 'A', 0, 'H'});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box_.ClearReceived();
    bool first = true;
    onData_ = [&](const WirePacket& p) {
      if (first)
        c.firstReply(p);
      else
        box_.Status(LoaderStatus::Ack, p.Number());
      first = false;
    };
    onRequest_ = [&](uint32_t n) { box_.Status(LoaderStatus::Ack, n - 1); };
    Bytes data = Random(100, 3);
    EXPECT_EQ(Download(data), 0);
    EXPECT_EQ(Trail(), (std::vector<std::string>{"D1", "R1", "D1"}));
  }
}

TEST_F(DownloadTest, TheSameErrorFiveTimesInARowEndsTheDownload) {
  // A stream the box cannot unpack is refused at its last packet, and every question
  // about that packet gets the same answer.
  onData_ = [this](const WirePacket& p) {
    if (p.Number() == 2)
      box_.Status(LoaderStatus::Error, err::kCompressData);
    else
      box_.Status(LoaderStatus::Ack, p.Number());
  };
  onRequest_ = [this](uint32_t) { box_.Status(LoaderStatus::Error, err::kCompressData); };
  Bytes data = Random(2000, 4);
  EXPECT_EQ(Download(data), err::kCompressData);
  EXPECT_EQ(Trail(), (std::vector<std::string>{"D1", "D2", "R2", "R2", "R2", "R2"}));
}

TEST_F(DownloadTest, BoxVerdictsEndTheDownload) {
  struct Case {
    const char* name;
    LoaderStatus status;
    uint32_t value;
    int result;
    std::vector<int64_t> progress;
  };
  const std::vector<Case> cases = {
      {"done", LoaderStatus::Done, 0, 0, {40, 100}},
      {"box error", LoaderStatus::Error, 0x10005, 0x10005, {40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    onData_ = [&](const WirePacket& p) {
      if (p.Number() == 2)
        box_.Status(c.status, c.value);
      else
        box_.Status(LoaderStatus::Ack, p.Number());
    };
    Bytes data = Random(2500, 4);
    EXPECT_EQ(Download(data), c.result);
    EXPECT_EQ(Progress(), c.progress);
  }
}

TEST_F(DownloadTest, FailuresWarnAtTheThirdAndDotAfterUntilOk) {
  // Packet 2 fails five times before the box holds it; packet 3 then fails once
  // without a warning, since the count was set back.
  int asks2 = 0, asks3 = 0;
  onData_ = [&](const WirePacket& p) {
    if (p.Number() == 3 && asks3++ == 0) return;
    if (p.Number() != 2) box_.Status(LoaderStatus::Ack, p.Number());
  };
  onRequest_ = [&](uint32_t n) {
    if (n == 2 && ++asks2 < 5) return;
    box_.Status(LoaderStatus::Ack, n);
  };
  Bytes data = Random(2500, 5);
  EXPECT_EQ(Download(data), 0);
  EXPECT_EQ(Logs(), (std::vector<std::string>{"\r\n->Warning:download packet:2 Error! Retry.", ".",
                                              ".", "OK"}));
  EXPECT_EQ(Trail(),
            (std::vector<std::string>{"D1", "D2", "R2", "R2", "R2", "R2", "R2", "D3", "R3"}));
  EXPECT_EQ(port_->purgeOutputCount, 6);
}

TEST_F(DownloadTest, ScatteredFailuresReachTheWarningSooner) {
  // One failure each on packets 1 and 2 is not set back by their success, so the
  // first failure of packet 3 is the third of the transfer.
  std::vector<int> asks(5, 0);
  onData_ = [&](const WirePacket& p) {
    if (asks[p.Number()]++ == 0) return;
    box_.Status(LoaderStatus::Ack, p.Number());
  };
  onRequest_ = [&](uint32_t n) { box_.Status(LoaderStatus::Ack, n - 1); };
  Bytes data = Random(3000, 6);
  EXPECT_EQ(Download(data), 0);
  EXPECT_EQ(Logs(), std::vector<std::string>{"\r\n->Warning:download packet:3 Error! Retry."});
}

TEST_F(DownloadTest, CancelSendsAbortAndStops) {
  onData_ = [&](const WirePacket& p) {
    box_.Status(LoaderStatus::Ack, p.Number());
    CancelRequested() = 1;
  };
  Bytes data = Random(5000, 7);
  EXPECT_EQ(Download(data), err::kCancelled);
  EXPECT_EQ(Trail(), (std::vector<std::string>{"D1", "S"}));
  const WirePacket abort = box_.Received(PacketType::Status).at(0);
  EXPECT_EQ(abort.payload, (Bytes{4, 0, 0, 0, 0}));
  EXPECT_EQ(abort.sequence, 1u);
}

TEST_F(DownloadTest, SendAndOpenFailures) {
  box_.OnPacket([this](const WirePacket& p) {
    if (p.Is(PacketType::Command)) {
      box_.Status(LoaderStatus::Ack);
      port_->writeBudget = 19 + 100;  // the data packet is cut short
    }
  });
  Bytes data = Random(500, 8);
  EXPECT_EQ(Download(data), err::kSendPacket);

  port_->writeBudget = -1;
  box_.DropPending();
  box_.ClearReceived();
  box_.OnPacket([this](const WirePacket&) { box_.Status(LoaderStatus::Error, 0x10000); });
  EXPECT_EQ(Download(data), 0x10000);
  EXPECT_TRUE(box_.Received(PacketType::Data).empty());
}

// A box that answers with anything at all ends the download only by a verdict of its
// own or the user's cancel; nothing is read past the data.
TEST_F(DownloadTest, HostileBoxIsSurvived) {
  std::mt19937 rng(99);
  int cycles = 0;
  auto chaos = [&](uint32_t n) {
    if (++cycles > 2000) CancelRequested() = 1;
    const uint32_t seq = box_.LastSequence();
    Bytes junk(rng() % 40);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    switch (rng() % 7) {
      case 0:
        box_.Send(junk);
        break;
      case 1:
        box_.Send(test::Frame(rng() % 4, seq, junk, rng() % 2, rng() % 3000));
        break;
      case 2:
        box_.Status(LoaderStatus::Ack, n + rng() % 3 - 1);
        break;
      case 3:
        box_.Send(test::StatusFrame(seq + 1, LoaderStatus::Ack, n));
        break;
      case 4:
        box_.Status(LoaderStatus::Error, rng() % 0x10000);
        break;
      case 5:
        break;
      default:
        if (rng() % 100 == 0)
          box_.Status(LoaderStatus::Done);
        else
          box_.Status(LoaderStatus::Ack, n);
    }
  };
  onData_ = [&](const WirePacket& p) { chaos(p.Number()); };
  onRequest_ = chaos;
  for (int run = 0; run < 5; ++run) {
    CancelRequested() = 0;
    cycles = 0;
    box_.ClearReceived();
    // 40 KiB of incompressible data in a buffer of exactly that size: the sanitizer
    // build catches any read past it.
    Bytes data = Random(40 * 1024, 10 + run);
    const int result = Download(data);
    EXPECT_TRUE(result == 0 || result == err::kCancelled) << result;
    for (const WirePacket& p : box_.Received(PacketType::Data)) {
      ASSERT_GE(p.Number(), 1u);
      ASSERT_LE(p.Number(), 40u);
      EXPECT_EQ(p.Data().size(), 1024u);
    }
  }
}

}  // namespace
}  // namespace stb
