// The burn when its reply goes astray: a repeated "burn" reads the burn's own packets,
// and a wait full of garbage neither ends like silence nor goes on forever.
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

Bytes Marker(uint32_t sequence, const std::string& text) {
  return test::DataFrame(sequence, 0, Bytes(text.begin(), text.end()));
}
Bytes BadHeaderCrc(Bytes frame) {
  frame[15] ^= 0x5A;
  return frame;
}
Bytes BadPayloadCrc(Bytes frame) {
  frame.back() ^= 0xA5;
  return frame;
}

class BurnWaitTest : public test::PacketBoxTest {
 protected:
  // The box's answer to each "burn\r" (the first and every repeat).
  void OnBurn(std::function<void(const WirePacket&)> answer) {
    box_.OnPacket([this, answer](const WirePacket& p) {
      if (!p.Is(PacketType::Command)) return;
      if (p.Text() == "burn\r") answer(p);
      if (p.Text() == "reboot\r") box_.Status(LoaderStatus::Ack);
    });
  }
  int Burn() { return PacketBurn(1048576, &ReportProgress); }
  size_t BurnCommands() const {
    size_t n = 0;
    for (const std::string& text : box_.Commands()) n += text == "burn\r" ? 1 : 0;
    return n;
  }
};

// Whatever the first reply came to, from the repeat on the burn's progress, end and
// failure are the burn's answer; the repeat is sent once and the wait goes on.
TEST_F(BurnWaitTest, RepeatTakesTheBurnsPacketsAsItsAnswer) {
  using Answer = std::function<void(test::ScriptedPacketBox&, const WirePacket&)>;
  struct Case {
    const char* name;
    Answer answer;
    int result;
    std::vector<int64_t> progress;
  };
  const auto firstOnly = [](Answer first, Answer repeat) -> Answer {
    return [first, repeat](test::ScriptedPacketBox& box, const WirePacket& p) {
      (p.retry == 0 ? first : repeat)(box, p);
    };
  };
  const Answer garbledAck = [](test::ScriptedPacketBox& box, const WirePacket& p) {
    box.Send(BadHeaderCrc(test::StatusFrame(p.sequence, LoaderStatus::Ack, 0)));
  };
  const Answer nothing = [](test::ScriptedPacketBox&, const WirePacket&) {};
  const std::vector<Case> cases = {
      {"garbled ack, progress after the repeat",
       firstOnly(garbledAck,
                 [](test::ScriptedPacketBox& box, const WirePacket& p) {
                   box.Send(Marker(p.sequence, "B0512"));
                   box.Send(Marker(p.sequence, "F"), 3000);
                 }),
       0,
       {50, 100}},
      // The first attempt times out at 2 s; the progress comes during the repeat.
      {"lost ack, progress during the repeat",
       [](test::ScriptedPacketBox& box, const WirePacket& p) {
         if (p.retry != 0) return;
         box.Send(Marker(p.sequence, "B0256"), 2500);
         box.Send(Marker(p.sequence, "F"), 4000);
       },
       0,
       {25, 100}},
      // As on attempt 0 of any command, a data packet there is no reply (32).
      {"lost ack, progress read by the first attempt",
       [](test::ScriptedPacketBox& box, const WirePacket& p) {
         if (p.retry != 0) return;
         box.Send(Marker(p.sequence, "B0256"), 100);
         box.Send(Marker(p.sequence, "B0512"), 1000);
         box.Send(Marker(p.sequence, "F"), 1500);
       },
       0,
       {50, 100}},
      {"repeat answered with done",
       firstOnly(garbledAck, [](test::ScriptedPacketBox& box,
                                const WirePacket&) { box.Status(LoaderStatus::Done); }),
       0,
       {100}},
      {"repeat answered with a small error",
       firstOnly(garbledAck, [](test::ScriptedPacketBox& box,
                                const WirePacket&) { box.Status(LoaderStatus::Error, 4); }),
       4,
       {}},
      {"repeat reads the failure marker",
       firstOnly(garbledAck, [](test::ScriptedPacketBox& box,
                                const WirePacket& p) { box.Send(Marker(p.sequence, "E")); }),
       err::kBurnFailed,
       {}},
      {"repeat answered with the kept ack and the end",
       firstOnly(garbledAck,
                 [](test::ScriptedPacketBox& box, const WirePacket& p) {
                   box.Status(LoaderStatus::Ack);
                   box.Send(Marker(p.sequence, "F"));
                 }),
       0,
       {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    box_.ClearReceived();
    OnBurn([this, &c](const WirePacket& p) { c.answer(box_, p); });
    EXPECT_EQ(Burn(), c.result);
    EXPECT_EQ(Progress(), c.progress);
    EXPECT_EQ(BurnCommands(), 2u);
  }
}

// As the emulated box does it: the ack is lost, the burn runs to its end at once, and
// the repeat gets the kept ack and end again. The burn succeeds and the reboot that
// follows is answered, though the line still held the repeat's replies.
TEST_F(BurnWaitTest, LostAckStillEndsInSuccessAndReboot) {
  OnBurn([this](const WirePacket& p) {
    if (p.retry == 0) {
      for (const char* m : {"B0064", "B0128", "B0192", "F"}) box_.Send(Marker(p.sequence, m));
    } else {
      box_.Status(LoaderStatus::Ack);
      box_.Send(Marker(p.sequence, "F"));
    }
  });
  EXPECT_EQ(Burn(), 0);
  EXPECT_EQ(Progress(), (std::vector<int64_t>{12, 18, 100}));
  EXPECT_EQ(PacketReboot(), 0);
  EXPECT_EQ(box_.Commands(), (std::vector<std::string>{"burn\r", "burn\r", "reboot\r"}));
  const auto logs = Logs();
  EXPECT_EQ(logs.front(), "\r\n->Error:Packet not recognize!\r\n in execute command:burn\r Retry.");
  EXPECT_EQ(logs.back(), "OK");
}

// Only silent waits count towards the five; anything else that is not the burn's is
// passed over, but 30 s of it end the burn with the code of the last one.
TEST_F(BurnWaitTest, GarbageEndsTheBurnAfterThirtySecondsWithItsCode) {
  using Make = std::function<Bytes(uint32_t sequence)>;
  struct Case {
    const char* name;
    Make garbage;
    int result;
  };
  const std::vector<Case> cases = {
      {"header CRC", [](uint32_t s) { return BadHeaderCrc(Marker(s, "B0001")); }, err::kHeadCrc},
      {"payload CRC", [](uint32_t s) { return BadPayloadCrc(Marker(s, "F")); }, err::kDataCrc},
      {"another exchange",
       [](uint32_t s) { return test::StatusFrame(s + 1, LoaderStatus::Done, 0); },
       err::kPacketUnrecognised},
      {"nothing of the burn", [](uint32_t s) { return test::StatusFrame(s, LoaderStatus::Ack, 0); },
       err::kPacketUnrecognised},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    uint32_t acked = 0;
    OnBurn([&](const WirePacket& p) {
      box_.Status(LoaderStatus::Ack);
      acked = clock_->NowMs();
      for (uint32_t t = 1000; t <= 60000; t += 1000) box_.Send(c.garbage(p.sequence), t);
    });
    EXPECT_EQ(Burn(), c.result);
    const uint32_t spent = clock_->NowMs() - acked;
    EXPECT_GE(spent, 30000u);
    EXPECT_LT(spent, 31100u);
    EXPECT_TRUE(Progress().empty());
    port_->PurgeInput();
    clock_->Advance(60000);  // lets what is left of this case arrive, and drops it
    port_->PurgeInput();
  }
}

// Garbled packets mixed with the burn's signs of life, or with silence.
TEST_F(BurnWaitTest, GarbageAndSilenceTogether) {
  // What the box sends, by ms after its ack: "" is a garbled packet, else a marker.
  using Script = std::vector<std::pair<uint32_t, std::string>>;
  const auto garbageUntil = [](uint32_t endMs) {
    Script s;
    for (uint32_t t = 1000; t <= endMs; t += 1000) s.push_back({t, ""});
    return s;
  };
  struct Case {
    const char* name;
    Script script;
    int result;
    uint32_t endsAt;  // ms after the ack
  };
  Script withProgress = garbageUntil(45000);
  withProgress.insert(withProgress.begin() + 19, {20000, "B0512"});
  withProgress.push_back({45500, "F"});
  const std::vector<Case> cases = {
      // The report at 20 s gives the burn another 30 s.
      {"progress in the garbage", withProgress, 0, 45500},
      // Five silent waits of 10 s after the garbage.
      {"silence after garbage", garbageUntil(20000), err::kOverrunRetry, 70000},
      // Four silent waits, a garbled packet, the fifth silent wait.
      {"garbage between silent waits", {{45000, ""}}, err::kOverrunRetry, 55000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t acked = 0;
    OnBurn([&](const WirePacket& p) {
      box_.Status(LoaderStatus::Ack);
      acked = clock_->NowMs();
      for (const auto& [at, text] : c.script) {
        box_.Send(
            text.empty() ? BadHeaderCrc(Marker(p.sequence, "B0001")) : Marker(p.sequence, text),
            at);
      }
    });
    EXPECT_EQ(Burn(), c.result);
    const uint32_t spent = clock_->NowMs() - acked;
    EXPECT_GE(spent, c.endsAt);
    EXPECT_LT(spent, c.endsAt + 200);
  }
}

}  // namespace
}  // namespace stb
